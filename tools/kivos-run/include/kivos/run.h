// kivos-run's core: runs a kivos executable in an emulated 32-bit x86
// processor and serves its system calls.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kivos {

// What the drive traps answer. Drives past the end of `probes` are present.
struct drive_table {
  int32_t count = 4; // a negative count makes the count query fail
  int32_t current = 1;
  std::vector<int32_t> probes = {1, 1, 0, 1};

  int32_t probe(int32_t index) const;
};

// One system call as the program made it.
struct trap_record {
  uint32_t number = 0;
  uint32_t eip = 0; // address of the instruction after the trap
  uint32_t ebx = 0, ecx = 0, edx = 0;
  int32_t result = 0;
  std::string data;      // bytes the program handed over (write, writefile) or received (read)
  bool injected = false; // the result was forced (run_options::override_result), not served
  // What each descriptor argument referred to when the call was made, with
  // trace_options::paths ("/notes.txt", "pipe:[2]", "console").
  std::string descriptors[3];
};

enum class run_end {
  exited,            // the program called _exit
  fault,             // bad memory access, invalid instruction, halt, processor exception
  timeout,           // the time limit ran out
  instruction_limit, // the instruction limit ran out
  deadlock,          // every process waits for another
  signal,            // SIGINT or SIGTERM came (with run_options::end_on_signals)
  load_error,        // the program could not be loaded
};

enum class fault_kind : uint8_t {
  none,
  read_unmapped,
  write_unmapped,
  fetch_unmapped,
  read_protected,
  write_read_only,
  fetch_non_executable,
  memory_access,
  stack_overflow,
  invalid_instruction,
  untranslatable, // code the emulator gives up on
  halt,
  stopped,   // the processor stopped for no reason it gave
  exception, // processor exception `code`
  emulator,  // the emulator's own error `code`
};

struct fault_report {
  fault_kind kind = fault_kind::none;
  uint32_t code = 0;    // of an exception, or of an emulator error
  uint32_t address = 0; // the address accessed (for memory faults)
  uint32_t eip = 0;     // the instruction that faulted
  bool has_address = false;
};

// What a fault is called, e.g. "read from unmapped memory", "divide error".
std::string fault_name(const fault_report &fault);

// The POSIX signal that matches a fault: what waitpid reports for a child
// the stand-in ended.
int fault_signal(const fault_report &fault);

// Decides the result of a trap instead of the stand-in kernel; for tests
// that need a kernel misbehaving in a particular way.
using trap_override = std::function<std::optional<int32_t>(const trap_record &)>;

// How the trace shows the traps, in the habits of strace.
struct trace_options {
  std::vector<uint32_t> only; // the calls to show; empty: all
  size_t string_limit = 32;   // bytes of a buffer shown before "..."
  enum { none, absolute, absolute_us, epoch, relative } stamps = none; // -t, -tt, -ttt, -r
  bool durations = false;   // the time spent in each call
  bool summary = false;     // a table of counts, errors and time at the end, no lines
  bool fold_writes = false; // one line for a run of one-byte writes to one descriptor
  bool paths = false;       // descriptors shown with what they refer to, as 3</notes.txt>
};

struct run_options {
  std::string program;           // path of the executable
  std::vector<std::string> args; // argv[0], argv[1], ...; argv[0] defaults to the program path
  drive_table drives;
  std::string root = ".";           // the folder the program's files live in
  std::optional<std::string> input; // standard input; the host's standard input when absent
  bool capture_console = false;     // keep console output in the result instead of printing it
  bool record_traps = false;        // keep every trap in the result
  std::FILE *trace = nullptr;       // one line per trap, strace style
  trace_options trace_with;
  double timeout_seconds = 0;       // 0: no limit; else ends even a program blocked on input
  uint64_t max_instructions = 0;    // 0: no limit (a limit slows emulation down)
  bool count_instructions = false;  // count every instruction (a block at a time)
  bool count_stores = false;        // count every guest store (slows emulation down)
  std::optional<uint16_t> gdb_port; // wait for gdb on localhost:port before the first instruction
  bool profile = false;       // instructions, calls and traps per function of the symbol table
  bool stacks = false;        // instructions per call stack, for run_result::stacks
  bool coverage = false;      // count the program's lines, for run_result::coverage
  bool real_sleep = true;     // usleep and sleep wait for real
  bool store_shortcut = true; // skip Unicorn 2.0.1's page collection on each store
  uint32_t stack_size = 1u << 20;
  bool end_on_signals = false; // SIGINT and SIGTERM end the run, which still reports
  // The time-stamp counter the program reads: the host's when absent (it
  // differs from run to run); else this value, one more at each read.
  std::optional<uint64_t> fixed_tsc;
  trap_override override_result;
  std::string record; // write what the run receives from outside to this file
  std::string replay; // run from this recording instead of from outside
  uint64_t snapshot_memory = uint64_t(256) << 20; // under gdb: bytes of snapshots for going back
};

struct profile_entry {
  std::string function; // "(unknown)" for code outside every function the program names
  uint64_t instructions = 0, calls = 0, traps = 0;
};

// A chain of calls: the process, then the functions from its start to the
// one that ran; with the instructions run there and in no callee.
struct call_stack {
  std::vector<std::string> frames;
  uint64_t instructions = 0;
};

struct run_result {
  run_end end = run_end::load_error;
  int exit_status = 0;            // for run_end::exited
  int signal = 0;                 // for run_end::signal
  std::string message;            // what went wrong, for every end but exited
  fault_report fault;             // of the first process
  std::string console;            // with capture_console
  std::vector<trap_record> traps; // with record_traps
  uint64_t trap_count = 0;
  uint64_t instructions = 0;          // with count_instructions or max_instructions
  uint64_t stores = 0;                // with count_stores
  std::vector<profile_entry> profile; // with profile: hottest first; empty without symbols
  std::vector<call_stack> stacks;     // with stacks: those that ran instructions
  std::string coverage;               // with coverage: an lcov tracefile of the program's lines
  std::string output_error; // why console output could not be written; empty when it all was
  std::string record_error; // why the recording could not be written; empty when it was
};

run_result run(const run_options &options);

// The calls of a trace class ("file", "console", "process", "drive",
// "stream"), or the call of that name; empty when there is none.
std::vector<uint32_t> calls_named(const std::string &name);

// How many guest stores took the store shortcut so far in this process.
uint64_t store_shortcuts_taken();
// How many TLB entries were made for stores that stay in generated code.
uint64_t clean_entries_made();

// The exit status kivos-run gives for a result.
int exit_code(const run_result &result);

inline constexpr int exit_timeout = 124;
inline constexpr int exit_tool_error = 125;
inline constexpr int exit_fault = 126;

} // namespace kivos
