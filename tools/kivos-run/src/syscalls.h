// The one table of system calls. The dispatcher, the trace and the capture
// of the bytes a call hands over or receives all read its rows, so a new
// call is one row and one handler.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kivos {

struct system;
struct process;
struct outcome;
struct trap_record;

enum class arg : uint8_t {
  none,
  integer,
  descriptor,
  count,  // an unsigned number, such as microseconds
  length, // the length of the buffer argument before it
  flags,  // open() flags
  address,
  path,
  buffer_in,  // bytes the program hands over; their count is the next argument
  buffer_out, // bytes the kernel fills in; as many as the call returns
};

struct syscall_row {
  uint32_t number;
  const char *name;
  std::array<arg, 3> args; // ebx, ecx, edx
  const char *classes;     // the trace classes it belongs to, comma-separated
  // Serves the call for the calling process.
  outcome (*handler)(system &, process &, const trap_record &);
};

// Every row, in the table's order.
std::span<const syscall_row> syscall_table();

// The row of a call, or null for a number no kivos kernel knows.
const syscall_row *find_syscall(uint32_t number);

} // namespace kivos
