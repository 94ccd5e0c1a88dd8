// The emulator's own records, shared by the files that make up kivos-run's
// core (emulator.cpp runs processes; time_travel.cpp records, replays and
// goes backwards): each process in an emulated 32-bit x86 processor of its
// own, and the runner that schedules them.
#pragma once

#include "../../common/text.h"
#include "call_stacks.h"
#include "clean_pages.h"
#include "coverage.h"
#include "gdb_stub.h"
#include "guest_memory.h"
#include "hook_guard.h"
#include "kernel.h"
#include "loader.h"
#include "recording.h"
#include "snapshots.h"
#include "store_shortcut.h"
#include "trace.h"

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <kivos/run.h>
#include <kivos/syscalls.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unicorn/unicorn.h>
#include <unistd.h>
#include <unordered_map>
#include <x86intrin.h>

namespace kivos::emu {

using tools::hex8;

// Unicorn calls abort() on a few instruction sequences it cannot translate.
// Those bytes come from the program, so they must not take the tool down:
// while the emulator runs, an abort jumps back out of it instead.
inline thread_local sigjmp_buf *t_abort_exit = nullptr;

inline void leave_emulator(int) {
  if (t_abort_exit) siglongjmp(*t_abort_exit, 1);
}

// A process that has made this many calls in a row gives the others a turn.
constexpr uint32_t slice_calls = 64;
// How often a wait that nothing can announce (a FIFO's other end) looks again.
constexpr auto retry_interval = std::chrono::milliseconds(10);

inline bool is_prefix(uint8_t b) {
  return b == 0x26 || b == 0x2e || b == 0x36 || b == 0x3e || b == 0x64 || b == 0x65 || b == 0x66 ||
         b == 0x67 || b == 0xf0 || b == 0xf2 || b == 0xf3;
}

// C++ names as a reader knows them; a plain C name stays as it is, even one
// that reads as a type code.
inline std::string readable_name(std::string_view name) {
  std::string text(name);
  if (!text.starts_with("_Z")) return text;
  int status = -1;
  char *plain = abi::__cxa_demangle(text.c_str(), nullptr, nullptr, &status);
  if (status == 0) text = plain;
  std::free(plain);
  return text;
}

struct runner;
struct guest;

// An emulated processor with its hooks. An ended process's engine serves the
// next process started, so its hooks name the engine, which names its
// current owner, and are never deleted (this Unicorn may still call a
// deleted hook).
struct engine {
  uc_engine *uc = nullptr;
  guest *owner = nullptr;
  uc_context *clean = nullptr; // its registers as new
  ~engine() {
    if (clean) uc_context_free(clean);
    if (uc) uc_close(uc);
  }
};

inline guest &owner(void *user) {
  return *static_cast<engine *>(user)->owner;
}

struct block_info {
  uint16_t instructions = 0;
  uint8_t ends = 0; // following calls: how the block may end
  uint32_t end = 0; // following calls: the address after it
  size_t function = 0;
  std::vector<uint32_t> lines; // with coverage: the lines that begin in the block
  int32_t entry = -1;          // with coverage: the function the block begins
};

enum block_end : uint8_t { may_call = 1, may_return = 2 };

// A call made and not yet returned from.
struct call_frame {
  uint32_t sp = 0; // where its return address lies: it returned once esp is above
  uint32_t node = 0;
};

// A process and the emulated processor it runs in.
struct guest : process {
  runner &r;
  engine *e = nullptr;
  uc_engine *uc = nullptr; // e's
  bool faulted = false;
  bool probing = false; // re-running one instruction to locate a fault
  bool probe_hit = false;
  bool emulator_aborted = false;
  bool counted = false;     // a run with an instruction count has been made
  bool clean_pages = false; // stores to pages without code take the fast path
  uc_mem_type fault_type{};
  fault_report fault;
  uint32_t stack_size = 0;
  uint32_t calls_in_slice = 0;
  elf32::symbol_table symbols;                     // with options.profile
  std::vector<profile_entry> profile;              // one per function, and one for the rest
  std::unordered_map<uint64_t, block_info> blocks; // by (address, size)
  std::array<std::pair<uint64_t, block_info *>, 512> recent_blocks{};
  // With profile or stacks and a symbol table (or as a child): calls are
  // followed, and `profile` has an entry per function and one for the rest.
  bool follows_calls() const { return !profile.empty(); }
  call_tree calls;
  std::vector<call_frame> frames;
  const block_info *previous = nullptr; // the block that ran last
  uint64_t own_instructions = 0;        // recording or replaying: this process's count
  // Under gdb, every instruction is counted as it starts; one that was
  // stopped before it ran is taken back (settle()). The count is the
  // position that going backwards goes to.
  uint64_t started = 0;
  uint64_t last_started = UINT64_MAX;                    // its address
  std::vector<std::pair<uint32_t, std::string>> journal; // recording: what the call wrote
  covered_program *covered = nullptr; // with coverage, when the program has line information

  explicit guest(runner &runs_it) : r(runs_it) {}

  // Runs f (a call into the emulator) with an abort caught; false when the
  // emulator aborted, after which the engine is only read and closed.
  template <typename F> bool guarded(F f) {
    struct sigaction on_abort = {};
    struct sigaction before = {};
    on_abort.sa_handler = leave_emulator;
    sigemptyset(&on_abort.sa_mask);
    sigaction(SIGABRT, &on_abort, &before);
    sigjmp_buf exit;
    if (sigsetjmp(exit, 1) == 0) {
      t_abort_exit = &exit;
      f();
    } else {
      emulator_aborted = true;
    }
    t_abort_exit = nullptr;
    sigaction(SIGABRT, &before, nullptr);
    return !emulator_aborted;
  }

  uc_err emulate(uint64_t begin, size_t count) {
    // Unicorn drops every translated block (about two seconds with its large
    // code buffer) when a run without an instruction count follows one with
    // a count, as gdb's continue follows a step; so once a count was given,
    // later runs keep one that never runs out.
    if (count)
      counted = true;
    else if (counted)
      count = SIZE_MAX;
    uc_err err = UC_ERR_EXCEPTION; // what an abort returns
    note_running_engine(uc);
    note_running_pages(clean_pages ? &memory : nullptr);
    guarded([&] { err = uc_emu_start(uc, begin, 0, 0, count); });
    note_running_pages(nullptr);
    note_running_engine(nullptr);
    settle();
    return err;
  }

  // An instruction whose start was counted but that did not run (a hook
  // stopped the engine before it) is still at eip.
  void settle() {
    if (last_started != UINT64_MAX && eip() == last_started && started) --started;
    last_started = UINT64_MAX;
  }

  // What the stand-in wrote into code must not run as the code that was there.
  void drop_written_code() {
    for (auto [from, to] : memory.code_written) uc_ctl_remove_cache(uc, from, to);
    memory.code_written.clear();
  }

  uint32_t eip() {
    uint32_t v = 0;
    uc_reg_read(uc, UC_X86_REG_EIP, &v);
    return v;
  }
  // The call the process is making: its number and arguments, and where it
  // was made when `with_eip` (one register more to read).
  trap_record trap(bool with_eip) {
    int ids[5] = {UC_X86_REG_EAX, UC_X86_REG_EBX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EIP};
    uint32_t regs[5] = {};
    void *ptrs[5] = {&regs[0], &regs[1], &regs[2], &regs[3], &regs[4]};
    uc_reg_read_batch(uc, ids, ptrs, with_eip ? 5 : 4);
    trap_record t;
    t.number = regs[0];
    t.ebx = regs[1];
    t.ecx = regs[2];
    t.edx = regs[3];
    t.eip = regs[4];
    return t;
  }
  uint32_t esp() {
    uint32_t v = 0;
    uc_reg_read(uc, UC_X86_REG_ESP, &v);
    return v;
  }

  void set_fault(fault_kind kind, uint32_t at, std::optional<uint32_t> address = {},
                 uint32_t code = 0) {
    faulted = true;
    fault = {kind, code, address.value_or(0), at, address.has_value()};
  }

  std::string start(std::span<const uint8_t> image, const std::vector<std::string> &args);
  void hook_rdtsc();
  void locate_data_fault();
  bool classify(uc_err err);
  void note_block_end(block_info &b, uint32_t address, uint32_t size);
  void follow_calls(const block_info &b);
  // Drops the frames that returned, or that a jump out of them (longjmp) left.
  void unwind(uint32_t sp) {
    while (frames.size() > 1 && frames.back().sp < sp) frames.pop_back();
  }
  // The index in `profile` of the function holding address; the last entry
  // stands for all code outside them.
  size_t function_at(uint32_t address) const {
    const std::vector<elf32::function> &functions = symbols.functions;
    auto after =
        std::upper_bound(functions.begin(), functions.end(), address,
                         [](uint32_t a, const elf32::function &f) { return a < f.address; });
    if (after != functions.begin()) {
      const elf32::function &f = after[-1];
      if (address - f.address < std::max<uint32_t>(f.size, 1))
        return size_t(after - functions.begin() - 1);
    }
    return functions.size();
  }

  static void intr_hook(uc_engine *, uint32_t intno, void *user);
  static bool mem_hook(uc_engine *, uc_mem_type type, uint64_t address, int, int64_t, void *user);
  static void block_hook(uc_engine *uc, uint64_t address, uint32_t size, void *user);
  static void code_hook(uc_engine *, uint64_t, uint32_t, void *user);
  static void count_hook(uc_engine *, uint64_t address, uint32_t, void *user);
  static bool scan_write(uc_engine *, uc_mem_type, uint64_t address, int size, int64_t, void *user);
  static void store_hook(uc_engine *, uc_mem_type, uint64_t address, int size, int64_t, void *user);
  static void rdtsc_hook(uc_engine *uc, uint64_t address, uint32_t, void *user);
};

struct runner {
  const run_options &options;
  run_result &result;
  system sys;
  std::optional<tracer> trace;
  uint64_t instructions = 0;
  uint64_t tsc_reads = 0;
  clock::time_point started = clock::now();
  bool instruction_limit_hit = false;
  guest *volatile running = nullptr; // whose engine runs now
  // Why the running engine was stopped by the stand-in.
  enum class stop : uint8_t { none, wait, end, slice } why = stop::none;
  std::atomic<bool> interrupted{false}; // gdb's Ctrl-C
  int wake_fd = -1;                     // readable after a Ctrl-C, to end a wait for the host
  bool debugging = false;
  bool clean_pages = false; // stores to pages without code take the fast path
  size_t turn = 0;          // where the round of processes goes on
  std::vector<std::unique_ptr<engine>> engines;
  std::vector<engine *> spare; // engines of ended processes
  // With coverage: each program run, by its image; null for one without
  // line information.
  std::map<std::string, std::unique_ptr<covered_program>> covered;
  uint32_t stack_size; // of every process: the options', or the recording's
  std::optional<recording_writer> recorder;
  std::optional<recording_reader> replayer;
  std::string diverged;         // replaying: why the run left its recording
  bool changed_program = false; // replaying: the image is not the recorded one
  // Under gdb, for going backwards: what the first process received, in
  // order, how much of it the process has used (less than all after going
  // back: running forward again uses the rest), and snapshots of it. An
  // input is kept in 32 bytes (a run makes millions of calls); the bytes the
  // kernel wrote are kept apart.
  struct kept_input {
    bool counter = false, ended = false;
    uint32_t number = 0;
    int32_t result = 0;
    uint32_t first_write = 0, writes = 0; // in kept_writes
    uint64_t value = 0;                   // a counter read's
  };
  std::vector<kept_input> history;
  std::vector<std::pair<uint32_t, std::string>> kept_writes;
  size_t cursor = 0;
  void keep(const recorded_event &e) {
    kept_input k{e.kind == recorded_event::tsc,
                 bool(e.flags & recorded_event::ended),
                 e.number,
                 e.result,
                 uint32_t(kept_writes.size()),
                 uint32_t(e.writes.size()),
                 e.value};
    kept_writes.insert(kept_writes.end(), e.writes.begin(), e.writes.end());
    history.push_back(k);
    cursor = history.size();
  }
  snapshot_store snapshots;
  gdb_link *link = nullptr;
  // Going backwards looks for the last stop before `scan_before`.
  bool scanning = false;
  uint64_t scan_before = 0;
  std::vector<uint32_t> scan_breaks;
  std::vector<std::pair<uint32_t, uint32_t>> scan_watches;
  std::optional<uint64_t> found_at;
  std::optional<uint32_t> found_watch;
  // Recording: the program and arguments of the last process started.
  std::vector<uint8_t> spawned_image;
  std::vector<std::string> spawned_args;

  runner(const run_options &o, run_result &r)
      : options(o), result(r), sys(o, r), stack_size(o.stack_size) {
    // Store counts and watchpoints need every store seen by the slow path.
    clean_pages = o.store_shortcut && !o.count_stores && !o.gdb_port && ready_clean_pages();
    if (o.trace) trace.emplace(o);
    sys.start_child = [this](process &parent, const std::vector<uint8_t> &image,
                             std::vector<std::string> args) -> int32_t {
      auto g = std::make_unique<guest>(*this);
      g->pid = sys.next_pid++;
      g->parent = parent.pid;
      g->cwd = parent.cwd;
      g->program = args.empty() ? "" : args[0];
      g->stack_size = stack_size;
      many = true;
      if (recorder) spawned_image = image, spawned_args = args;
      if (!g->start(image, args).empty()) return -ENOEXEC;
      sys.processes.push_back(std::move(g));
      return sys.processes.back()->pid;
    };
  }

  // An engine for a new process: a spare one with its registers as new, or
  // (`fresh`) a new one that needs its hooks. Hooks that depend on the
  // program (a fixed counter's) rule out spares.
  engine *take_engine(bool &fresh) {
    fresh = spare.empty() || hooks_rdtsc();
    if (!fresh) {
      engine *e = spare.back();
      spare.pop_back();
      uc_context_restore(e->uc, e->clean);
      return e;
    }
    auto e = std::make_unique<engine>();
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &e->uc) != UC_ERR_OK ||
        uc_context_alloc(e->uc, &e->clean) != UC_ERR_OK)
      return nullptr;
    uc_context_save(e->uc, e->clean);
    engines.push_back(std::move(e));
    return engines.back().get();
  }

  // An ended process keeps only its record; its engine waits for the next.
  void release(guest &g) {
    // Only its code is dropped: flushing all would touch the whole code buffer.
    for (const region &x : g.memory.regions) {
      if (x.prot & prot_exec) uc_ctl_remove_cache(g.uc, x.base, uint64_t(x.base) + x.size);
      uc_mem_unmap(g.uc, x.base, x.size);
    }
    g.e->owner = nullptr;
    spare.push_back(std::exchange(g.e, nullptr));
    g.uc = nullptr;
    g.memory.regions.clear();
  }

  guest &at(size_t i) { return static_cast<guest &>(*sys.processes[i]); }
  // Whether counter reads are answered by code hooks (which depend on the program).
  bool hooks_rdtsc() const { return options.fixed_tsc || recorder || replayer || options.gdb_port; }
  // Whether g's calls and counter reads go into the history.
  // (Only while the run has one process: with more, going backwards starts
  // a replay again from its beginning instead.)
  bool keeps_history(const guest &g) { return debugging && !many && &g == &first(); }
  bool many = false;                // a second process was started
  bool silent = false;              // running again to go backwards: no output, trace or counts
  uint64_t replayed = 0, shown = 0; // calls of the recording served, and the most ever
  // A replay counts each process's instructions, to say where it left its
  // recording: a block at a time, which is exact unless gdb's stops cut
  // blocks short; under gdb, one at a time.
  bool counts_own() const { return bool(replayer); }
  uint64_t count(const guest &g) const { return options.gdb_port ? g.started : g.own_instructions; }
  // Whether the recording holds the counts. Counting costs a recording a
  // fifth more CPU, so only one made under gdb (which counts anyway) has them.
  bool counted = false;
  uint64_t recorded_count(const guest &g) const { return counted ? count(g) : 0; }
  guest *find(int32_t pid) {
    for (auto &p : sys.processes)
      if (p->pid == pid && !p->ended) return static_cast<guest *>(p.get());
    return nullptr;
  }
  guest &first() { return at(0); }
  double seconds() const { return std::chrono::duration<double>(clock::now() - started).count(); }

  void on_trap(guest &g);
  recorded_event event_of(guest &g, const trap_record &t, bool served, bool ended);
  void reexecute_trap(guest &g);
  bool go_to(guest &f, uint64_t position, const snapshot *from = nullptr);
  bool replay_to(guest &f, uint64_t position);
  guest_stop reverse(bool step, const stop_points &points);
  void replay_trap(guest &g);
  void diverge(guest &g, const std::string &what);
  bool replay();
  void complete(guest &g, trap_record &t, bool served, double begin, bool ended);
  bool retry(guest &g);
  void note_wait(guest &g);
  bool ready(guest &g);
  bool wait_for_host();
  void end_guest(guest &g, int32_t status, const std::string &why);
  bool run_guest(guest &g, size_t count = 0);
  bool schedule(bool until_first_ready = false);
  void conclude_first(uc_err err);
  void end_others();
  void execute();
  void debug();
};

} // namespace kivos::emu
