// A gdb remote stub: lets gdb debug the guest over TCP on localhost, with
// registers, memory, breakpoints, write watchpoints, stepping and Ctrl-C.
#pragma once

#include "guest_memory.h"

#include <functional>
#include <optional>
#include <string>
#include <unicorn/unicorn.h>
#include <vector>

namespace kivos {

// How a resumed run stopped, as the session saw it.
struct guest_stop {
  // history_begin: going backwards reached the start of the run;
  // unsupported: this run cannot go backwards.
  enum { paused, exited, faulted, history_begin, unsupported } kind = paused;
  int code = 0;                    // the exit status, or the signal of a fault
  std::optional<uint32_t> watched; // going backwards: stopped at a write to this watch
};

// What going backwards looks for: the stub's breakpoints and watched ranges.
struct stop_points {
  std::vector<uint32_t> breakpoints;
  std::vector<std::pair<uint32_t, uint32_t>> watches; // address, length
};

// The debug target: the first process, whose engine and memory gdb reads
// and changes; the others run while it runs.
struct gdb_link {
  uc_engine *uc;
  guest_memory &memory;
  // Runs from the first process's eip: one instruction when `step`, else
  // until it ends, or a hook of the stub stops its engine, or interrupt().
  std::function<guest_stop(bool step)> resume;
  // Stops a resume from another thread (gdb's Ctrl-C).
  std::function<void()> interrupt;
  // Runs backwards: one instruction when `step`, else to the last place
  // before now where a breakpoint or a watched write stops it.
  std::function<guest_stop(bool step, const stop_points &points)> reverse;
  // While true, the program runs for the stand-in's own purposes (going
  // backwards runs it forwards from a snapshot): the stub's hooks keep still.
  bool quiet = false;
};

// Listens on localhost:port (0: any free port) and says where on standard
// error, then serves one gdb until it kills or detaches from the program,
// or the program ends. Returns what went wrong ("killed from gdb" when it
// killed the program, "gdb went away" when the connection ended without a
// detach), or an empty text. The caller runs a detached program on.
std::string serve_gdb(gdb_link &link, uint16_t port);

// The replies a session gives to each of `packets` (their data, without
// framing), with no connection: for tests and the fuzzer. A continue runs
// the program until it stops by itself.
std::vector<std::string> answer_packets(gdb_link &link, const std::vector<std::string> &packets);

} // namespace kivos
