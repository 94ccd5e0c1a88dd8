// Reading a kivos executable and laying out its address space.
#pragma once

#include "../../common/elf32.h"
#include "guest_memory.h"

#include <kivos/run.h>
#include <string>

namespace kivos {

inline constexpr uint32_t low_limit = 0x10000; // the first 64 KiB stay unmapped
inline constexpr uint32_t stack_top = 0xc0000000;

// Checks the program, maps its segments and builds the start-up stack with
// options.args in `memory`; sets the entry point and the stack pointer.
// Returns what is wrong, or an empty text.
// Its symbol table goes to *symbols when asked.
std::string load_program(const run_options &options, guest_memory &memory, uint32_t &entry,
                         uint32_t &sp, elf32::symbol_table *symbols = nullptr);
// The same for a program image already read, started with `args`.
std::string load_image(std::span<const uint8_t> image, const std::vector<std::string> &args,
                       uint32_t stack_size, guest_memory &memory, uint32_t &entry, uint32_t &sp,
                       elf32::symbol_table *symbols = nullptr);

} // namespace kivos
