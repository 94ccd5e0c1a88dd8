// Reading 32-bit little-endian ELF files without trusting them: every offset
// and size is checked against the file before it is used.
#pragma once

#include <cstdint>
#include <elf.h>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace elf32 {

struct segment {
  uint32_t type, offset, vaddr, filesz, memsz, flags, align;
};

struct section {
  std::string name;
  uint32_t type, flags, addr, offset, size, align;
};

struct function {
  uint32_t name; // offset in symbol_table::names
  uint32_t address, size;
};

// The functions of the symbol table, by address, and the string table their
// names point into, copied once however many symbols share it.
struct symbol_table {
  std::string names;
  std::vector<function> functions;

  // The name of f, which runs to a NUL or to the end of the table.
  std::string_view name(const function &f) const;
};

struct file {
  uint8_t osabi = 0;
  uint16_t type = 0, machine = 0;
  uint32_t entry = 0;
  std::vector<segment> segments;
  std::vector<section> sections; // empty when the file has no section headers
  symbol_table symbols;          // empty when stripped
};

// Section names longer than this are cut: no section anyone looks for has one.
inline constexpr size_t max_section_name = 255;

// Parses the header, program headers and (when present) section headers.
// On failure returns nothing and says why in `error`.
std::optional<file> parse(std::span<const uint8_t> bytes, std::string &error);

// Bytes [offset, offset + size) of the file, or nothing when they run past it.
std::optional<std::span<const uint8_t>> slice(std::span<const uint8_t> bytes, uint64_t offset,
                                              uint64_t size);

// The largest file any tool reads as a program: the most memory the kernel
// stand-in maps, and a little for the headers.
inline constexpr uint64_t max_program_size = (1ull << 30) + (1ull << 20);

// Reads a whole regular file of at most max_size bytes, without blocking on
// a FIFO or a device; on failure says why in `error`.
std::optional<std::vector<uint8_t>> read_file(const std::string &path, std::string &error,
                                              uint64_t max_size = max_program_size);
// The same for an open descriptor, which it closes.
std::optional<std::vector<uint8_t>> read_fd(int fd, std::string &error,
                                            uint64_t max_size = max_program_size);

} // namespace elf32
