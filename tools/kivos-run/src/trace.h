// Names and decoding of the traps, for the trace and for error messages.
#pragma once

#include <cstdint>
#include <string>

#include <kivos/run.h>

namespace kivos {

struct guest_memory;

// The name of a trap, or "trap_N" for a number the kernel does not know.
std::string trap_name(uint32_t number);

// One strace-style line (without the newline) for a served trap. `served`
// false marks a trap the stand-in does not provide.
std::string trace_line(const trap_record &t, const guest_memory &memory, bool served);

// Quotes bytes C-style, cut after `limit` bytes with "..." behind.
std::string quote(const std::string &bytes, size_t limit = 32);

} // namespace kivos
