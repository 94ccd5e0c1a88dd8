// Names and decoding of the traps, for the trace and for error messages.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <kivos/run.h>

namespace kivos {

struct guest_memory;

// The name of a trap, or "trap_N" for a number the kernel does not know.
std::string trap_name(uint32_t number);

// One strace-style line (without the newline) for a served trap. `served`
// false marks a trap the stand-in does not provide.
std::string trace_line(const trap_record &t, const guest_memory &memory, bool served,
                       size_t string_limit = 32);

// Writes the trace of one run as run_options::trace_with says.
struct tracer {
  explicit tracer(const run_options &options) : options(options) {}
  // One served trap that began `start` seconds into the run and took `seconds`;
  // a nonzero pid names the process that made it, as strace -f does.
  void record(const trap_record &t, const guest_memory &memory, bool served, double start,
              double seconds, int32_t pid = 0);
  // Ends a folded run and prints the summary.
  void finish();

private:
  const run_options &options;
  double last_start = 0;
  std::string folded_line; // the first write of a run of one-byte writes
  std::string folded_bytes;
  uint32_t folded_fd = 0;
  int32_t folded_pid = 0, pid = 0;
  double folded_start = 0, folded_seconds = 0;
  size_t folded = 0;
  struct totals {
    uint64_t calls = 0, errors = 0;
    double seconds = 0;
  };
  std::map<std::string, totals> summary;

  void print(const std::string &line, double start, double seconds);
  void end_fold();
};

// Quotes bytes C-style, cut after `limit` bytes with "..." behind.
std::string quote(const std::string &bytes, size_t limit = 32);

} // namespace kivos
