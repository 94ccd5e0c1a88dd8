// Runs kivos programs: each process in an emulated 32-bit x86 processor of
// its own, one at a time. The scheduler switches only at system calls (when
// a process waits, ends, or has made a slice of calls), never on a clock, so
// the same programs with the same input run the same way every time.
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

namespace kivos {
namespace {

using tools::hex8;

// Unicorn calls abort() on a few instruction sequences it cannot translate.
// Those bytes come from the program, so they must not take the tool down:
// while the emulator runs, an abort jumps back out of it instead.
thread_local sigjmp_buf *t_abort_exit = nullptr;

void leave_emulator(int) {
  if (t_abort_exit) siglongjmp(*t_abort_exit, 1);
}

// A process that has made this many calls in a row gives the others a turn.
constexpr uint32_t slice_calls = 64;
// How often a wait that nothing can announce (a FIFO's other end) looks again.
constexpr auto retry_interval = std::chrono::milliseconds(10);

bool is_prefix(uint8_t b) {
  return b == 0x26 || b == 0x2e || b == 0x36 || b == 0x3e || b == 0x64 || b == 0x65 || b == 0x66 ||
         b == 0x67 || b == 0xf0 || b == 0xf2 || b == 0xf3;
}

// C++ names as a reader knows them; a plain C name stays as it is, even one
// that reads as a type code.
std::string readable_name(std::string_view name) {
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

guest &owner(void *user) {
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
  bool follows_calls = false; // with profile or stacks and a symbol table
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
  // back: running forward again uses the rest), and snapshots of it.
  std::vector<recorded_event> history;
  size_t cursor = 0;
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
  bool keeps_history(const guest &g) { return debugging && &g == &first(); }
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

std::string guest::start(std::span<const uint8_t> image, const std::vector<std::string> &args) {
  uint32_t entry = 0, sp = 0;
  std::string err =
      load_image(image, args, stack_size, memory, entry, sp,
                 r.options.profile || r.options.stacks || r.options.coverage ? &symbols : nullptr);
  if (!err.empty()) return err;
  // The program asked for must name its functions; a stripped program it
  // starts still counts, as "(unknown)".
  if (r.options.stacks && symbols.functions.empty() && !parent)
    return "no call stacks: " + program +
           " has no symbol table; profile it as built, before it is stripped";
  if (r.options.coverage) {
    std::unique_ptr<covered_program> &c = r.covered[std::string(image.begin(), image.end())];
    if (!c) {
      auto fresh = std::make_unique<covered_program>();
      std::vector<uint8_t> bytes(image.begin(), image.end()); // libelf may rewrite what it reads
      if (std::string why = fresh->lines.read(bytes); !why.empty()) {
        if (!parent) return why; // the program asked for; one it starts is left out
      } else {
        for (const elf32::function &f : symbols.functions)
          fresh->functions.push_back({readable_name(symbols.name(f)), f.address, 0});
        c = std::move(fresh);
      }
    }
    covered = c.get();
  }
  follows_calls = (r.options.profile || r.options.stacks) && (parent || !symbols.functions.empty());
  if (follows_calls) profile.resize(symbols.functions.size() + 1);
  bool fresh = false;
  if (!(e = r.take_engine(fresh))) return "cannot start the emulator";
  e->owner = this;
  uc = e->uc;
  clean_pages = r.clean_pages;
  // The emulator numbers its memory in the order it is mapped and keeps
  // its records of code in tables of 1,024 pages of that numbering; a
  // store to a page whose table also covers code takes a much slower
  // path. So the code goes first, then 4 MiB of room that is given back,
  // then everything writable.
  constexpr uint32_t gap_base = 0xfc000000, gap_size = 4u << 20;
  auto map = [&](const region &x) -> std::string {
    uint32_t prot = (x.prot & prot_read ? UC_PROT_READ : 0) |
                    (x.prot & prot_write ? UC_PROT_WRITE : 0) |
                    (x.prot & prot_exec ? UC_PROT_EXEC : 0);
    uc_err e = UC_ERR_OK;
    if (!guarded([&] { e = uc_mem_map_ptr(uc, x.base, x.size, prot, x.host); }))
      return "the emulator gave up mapping guest memory at " + hex8(x.base);
    return e == UC_ERR_OK ? "" : "cannot map guest memory at " + hex8(x.base);
  };
  for (const region &x : memory.regions)
    if (!(x.prot & prot_write))
      if (std::string e = map(x); !e.empty()) return e;
  bool gap = !memory.find(gap_base, 0) && !memory.find(gap_base + gap_size - 1, 0) &&
             uc_mem_map(uc, gap_base, gap_size, UC_PROT_NONE) == UC_ERR_OK;
  for (const region &x : memory.regions)
    if (x.prot & prot_write)
      if (std::string e = map(x); !e.empty()) return e;
  if (gap) uc_mem_unmap(uc, gap_base, gap_size);
  if (fresh) {
    uc_hook h;
    uc_hook_add(uc, &h, UC_HOOK_INTR, reinterpret_cast<void *>(intr_hook), e, 1, 0);
    uc_hook_add(uc, &h, UC_HOOK_MEM_INVALID, reinterpret_cast<void *>(mem_hook), e, 1, 0);
    // A limit needs every instruction seen; a count only every block.
    if (r.options.max_instructions)
      uc_hook_add(uc, &h, UC_HOOK_CODE, reinterpret_cast<void *>(code_hook), e, 1, 0);
    if (r.options.gdb_port)
      uc_hook_add(uc, &h, UC_HOOK_CODE, reinterpret_cast<void *>(count_hook), e, 1, 0);
    if (r.options.coverage || r.options.profile || r.options.stacks || r.counts_own() ||
        (!r.options.max_instructions && r.options.count_instructions))
      uc_hook_add(uc, &h, UC_HOOK_BLOCK, reinterpret_cast<void *>(block_hook), e, 1, 0);
    if (r.options.count_stores) {
      guard_write_hooks();
      uc_hook_add(uc, &h, UC_HOOK_MEM_WRITE, reinterpret_cast<void *>(store_hook), e, 1, 0);
    }
    if (r.hooks_rdtsc()) hook_rdtsc();
  }
  // Without exits the emulator stops silently when the program reaches
  // address 0; with one that cannot be reached, it faults there instead.
  uc_ctl_exits_enable(uc);
  uint64_t exits[1] = {0xffffffffffffull};
  uc_ctl_set_exits(uc, exits, 1);
  uc_reg_write(uc, UC_X86_REG_ESP, &sp);
  uc_reg_write(uc, UC_X86_REG_EIP, &entry);
  // A process starts with the x87 unit as fninit leaves it, as a kernel starts
  // it: the emulator's own start has a control word of 0, which rounds to 24
  // bits once a program reloads it (as every double-to-int conversion does).
  uint32_t control = 0x37f, tags = 0xffff;
  uc_reg_write(uc, UC_X86_REG_FPCW, &control);
  uc_reg_write(uc, UC_X86_REG_FPTAG, &tags);
  return {};
}

void guest::intr_hook(uc_engine *, uint32_t intno, void *user) {
  guest &g = owner(user);
  if (intno == 0x80 && !g.probing) return g.r.on_trap(g);
  if (!g.probing) g.set_fault(fault_kind::exception, g.eip(), {}, intno);
  uc_emu_stop(g.uc);
}

bool guest::mem_hook(uc_engine *, uc_mem_type type, uint64_t address, int, int64_t, void *user) {
  guest &g = owner(user);
  if (g.probing) {
    g.probe_hit = type == g.fault_type && uint32_t(address) == g.fault.address;
    return false;
  }
  constexpr std::pair<uc_mem_type, fault_kind> kinds[] = {
      {UC_MEM_READ_UNMAPPED, fault_kind::read_unmapped},
      {UC_MEM_WRITE_UNMAPPED, fault_kind::write_unmapped},
      {UC_MEM_FETCH_UNMAPPED, fault_kind::fetch_unmapped},
      {UC_MEM_READ_PROT, fault_kind::read_protected},
      {UC_MEM_WRITE_PROT, fault_kind::write_read_only},
      {UC_MEM_FETCH_PROT, fault_kind::fetch_non_executable}};
  fault_kind kind = fault_kind::memory_access;
  for (auto [t, k] : kinds)
    if (t == type) kind = k;
  uint32_t stack_low = stack_top - g.stack_size;
  if ((type == UC_MEM_WRITE_UNMAPPED || type == UC_MEM_READ_UNMAPPED) &&
      uint32_t(address) - (stack_low - page_size) < page_size)
    kind = fault_kind::stack_overflow;
  g.fault_type = type;
  bool fetch = type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT;
  g.set_fault(kind, fetch ? uint32_t(address) : g.eip(), uint32_t(address));
  return false;
}

// Counts instructions a translated block at a time: the emulator says how
// many a block holds, once per block.
void guest::block_hook(uc_engine *uc, uint64_t address, uint32_t size, void *user) {
  guest &g = owner(user);
  uint64_t key = address << 16 | size;
  // Most blocks run again soon: a small cache in front of the table.
  auto &[cached_key, cached] = g.recent_blocks[(address ^ address >> 9) % g.recent_blocks.size()];
  bool fresh = false;
  if (cached_key != key || !cached) {
    auto [it, added] = g.blocks.try_emplace(key, block_info{});
    fresh = added;
    cached_key = key;
    cached = &it->second;
  }
  block_info &b = *cached;
  runner &r = g.r;
  covered_program *covered = g.covered;
  if (fresh) {
    uc_tb tb{};
    if (uc_ctl_request_cache(uc, address, &tb) == UC_ERR_OK) b.instructions = tb.icount;
    b.function = g.function_at(uint32_t(address));
    if (g.follows_calls) g.note_block_end(b, uint32_t(address), size);
    if (covered) {
      b.lines = covered->lines.within(uint32_t(address), size);
      if (b.function < g.symbols.functions.size() &&
          g.symbols.functions[b.function].address == uint32_t(address))
        b.entry = int32_t(b.function);
    }
  }
  if (!r.options.max_instructions) r.instructions += b.instructions; // else the code hook counts
  g.own_instructions += b.instructions;
  if (g.follows_calls) {
    g.profile[b.function].instructions += b.instructions;
    g.follow_calls(b);
  }
  if (covered) {
    for (uint32_t l : b.lines) ++covered->lines.lines[l].count;
    if (b.entry >= 0) ++covered->functions[size_t(b.entry)].entries;
  }
}

// Whether the block's last instruction may be a call or a return, from its
// last bytes; the stack then says whether it was.
void guest::note_block_end(block_info &b, uint32_t address, uint32_t size) {
  uint8_t tail[8] = {}; // tail[8 - k] is the byte k before the end
  uint32_t n = std::min<uint32_t>(size, 8);
  if (!memory.read(address + size - n, tail + 8 - n, n, prot_exec)) return;
  b.end = address + size;
  if (tail[7] == 0xc3 || tail[5] == 0xc2) b.ends |= may_return;
  if (tail[3] == 0xe8) b.ends |= may_call;
  for (int i = 1; i <= 6; ++i)
    if (tail[i] == 0xff && (tail[i + 1] >> 3 & 7) == 2) b.ends |= may_call;
}

// Follows calls and returns exactly from one block to the next: a call left
// the address after it on top of a deeper stack; a return (or a jump out of
// frames) left the stack above their return addresses.
void guest::follow_calls(const block_info &b) {
  const block_info *p = std::exchange(previous, &b);
  uint32_t function = uint32_t(b.function);
  if (frames.empty()) {
    frames.push_back({UINT32_MAX, calls.child(call_tree::root, function)});
  } else if (p && p->ends) {
    uint32_t sp = esp(), back = 0;
    if (p->ends & may_return) unwind(sp);
    if ((p->ends & may_call) && sp < frames.back().sp && memory.read(sp, &back, 4, prot_read) &&
        back == p->end) {
      frames.push_back({sp, calls.child(frames.back().node, function)});
      ++profile[function].calls;
    }
  }
  // Code of another function without a call: a jump to it (a tail call), or
  // out of frames that ended.
  if (uint32_t top = calls.nodes[frames.back().node].function;
      top != function && top != call_tree::deeper) {
    unwind(esp());
    uint32_t &node = frames.back().node;
    if (calls.nodes[node].function != function)
      node = calls.child(calls.nodes[node].parent, function);
  }
  calls.nodes[frames.back().node].instructions += b.instructions;
}

void guest::code_hook(uc_engine *, uint64_t, uint32_t, void *user) {
  guest &g = owner(user);
  runner &r = g.r;
  if (r.instructions >= r.options.max_instructions) {
    r.instruction_limit_hit = true;
    uc_emu_stop(g.uc);
    return;
  }
  ++r.instructions;
}

void guest::count_hook(uc_engine *, uint64_t address, uint32_t, void *user) {
  guest &g = owner(user);
  runner &r = g.r;
  if (r.scanning && g.started < r.scan_before &&
      std::binary_search(r.scan_breaks.begin(), r.scan_breaks.end(), uint32_t(address))) {
    r.found_at = g.started;
    r.found_watch.reset();
  }
  ++g.started;
  g.last_started = address;
}

// While going backwards looks for the last write to a watched range: the
// place before the instruction that made it.
bool guest::scan_write(uc_engine *, uc_mem_type, uint64_t address, int size, int64_t, void *user) {
  guest &g = owner(user);
  runner &r = g.r;
  if (!r.scanning || g.started == 0 || g.started - 1 >= r.scan_before) return true;
  for (auto [from, length] : r.scan_watches)
    if (address < uint64_t(from) + length && address + uint64_t(size) > from) {
      r.found_at = g.started - 1;
      r.found_watch = from;
    }
  return true;
}

void guest::store_hook(uc_engine *, uc_mem_type, uint64_t address, int size, int64_t, void *user) {
  if (!store_again(address, size)) ++owner(user).r.result.stores;
}

// The emulator hands the guest the host's time-stamp counter and cannot
// hook the instruction, so for a fixed counter code hooks answer in its
// place: over every writable code region, whose bytes may become an rdtsc
// at any time, and around every place an rdtsc (prefixes included) could
// start in read-only code. The hook looks at the bytes it is about to run,
// so an address that holds something else runs as it is. Nearby places
// share a hook, and the count of hooks stays bounded whatever the code.
void guest::hook_rdtsc() {
  constexpr size_t max_hooks = 256;
  std::vector<std::pair<uint32_t, uint32_t>> spans; // [first, last] addresses
  uint32_t gap = 64;
  auto add = [&](uint32_t first, uint32_t last) {
    if (!spans.empty() && first - spans.back().second <= gap)
      spans.back().second = std::max(spans.back().second, last);
    else
      spans.push_back({first, last});
    while (spans.size() > max_hooks) { // wider gaps until few enough spans remain
      gap *= 4;
      std::vector<std::pair<uint32_t, uint32_t>> merged;
      for (auto &x : spans)
        if (!merged.empty() && x.first - merged.back().second <= gap)
          merged.back().second = std::max(merged.back().second, x.second);
        else
          merged.push_back(x);
      spans.swap(merged);
    }
  };
  for (const region &x : memory.regions) {
    if (!(x.prot & prot_exec)) continue;
    if (x.prot & prot_write) {
      add(x.base, x.base + x.size - 1);
      continue;
    }
    for (uint32_t i = 0; i < x.size; ++i) {
      auto *at = static_cast<const uint8_t *>(std::memchr(x.host + i, 0x0f, x.size - i));
      if (!at) break;
      i = uint32_t(at - x.host);
      uint8_t next = 0;
      if (!memory.read(x.base + i + 1, &next, 1, prot_exec) || next != 0x31) continue;
      uint32_t first = x.base + i;
      for (uint8_t b;
           x.base + i - first < 14 && memory.read(first - 1, &b, 1, prot_exec) && is_prefix(b);)
        --first;
      add(first, x.base + i);
    }
  }
  std::sort(spans.begin(), spans.end());
  for (auto [first, last] : spans) {
    uc_hook h;
    uc_hook_add(uc, &h, UC_HOOK_CODE, reinterpret_cast<void *>(rdtsc_hook), e, first, last);
  }
}

void guest::rdtsc_hook(uc_engine *uc, uint64_t address, uint32_t, void *user) {
  guest &g = owner(user);
  uint8_t code[16] = {};
  uint32_t at = uint32_t(address), n = 0;
  while (n < 15 && g.memory.read(at + n, &code[n], 1, prot_exec) && is_prefix(code[n])) ++n;
  if (!g.memory.read(at + n, &code[n], 2, prot_exec) || code[n] != 0x0f || code[n + 1] != 0x31)
    return;
  runner &r = g.r;
  uint64_t tsc = 0;
  bool past = r.keeps_history(g) && r.cursor < r.history.size();
  if (past) { // run again after going backwards: the value read then
    const recorded_event &e = r.history[r.cursor++];
    tsc = e.kind == recorded_event::tsc ? e.value : 0;
  } else if (r.replayer) {
    std::string err;
    const recorded_event *e = r.replayer->peek(err);
    if (!e || e->kind != recorded_event::tsc || e->pid != g.pid)
      return r.diverge(g, err.empty() ? "read the time-stamp counter" : err);
    tsc = e->value;
    recorded_event taken;
    r.replayer->next(taken, err);
  } else {
    tsc = r.options.fixed_tsc ? *r.options.fixed_tsc + r.tsc_reads++ : __rdtsc();
  }
  recorded_event e;
  e.kind = recorded_event::tsc;
  e.pid = g.pid;
  e.instructions = r.recorded_count(g);
  e.value = tsc;
  if (r.recorder && !past) r.recorder->add(e);
  if (r.keeps_history(g) && !past) {
    r.history.push_back(e);
    r.cursor = r.history.size();
  }
  uint32_t lo = uint32_t(tsc), hi = uint32_t(tsc >> 32), next = at + n + 2;
  uc_reg_write(uc, UC_X86_REG_EAX, &lo);
  uc_reg_write(uc, UC_X86_REG_EDX, &hi);
  uc_reg_write(uc, UC_X86_REG_EIP, &next);
}

// The emulator reports a data fault at the start of its translated block.
// Step the block's instructions one at a time from the state at the fault
// until one of them repeats the same fault: that is the faulting one.
void guest::locate_data_fault() {
  uc_context *ctx = nullptr;
  if (uc_context_alloc(uc, &ctx) != UC_ERR_OK) return;
  uc_context_save(uc, ctx);
  probing = true;
  uint64_t kept = started; // the probe's steps are not the program's
  uint32_t pc = fault.eip;
  for (int step = 0; step < 64; ++step) {
    uc_context_restore(uc, ctx);
    probe_hit = false;
    uc_err err = emulate(pc, 1);
    if (emulator_aborted) break;
    if (probe_hit) {
      fault.eip = pc;
      break;
    }
    uint32_t next = eip();
    if (err != UC_ERR_OK || next <= pc || next - pc > 15) break;
    pc = next;
  }
  probing = false;
  started = kept;
  uc_context_free(ctx);
}

// After the engine returned `err` with the guest neither waiting nor ended:
// true when that is a fault (now in `fault`).
bool guest::classify(uc_err err) {
  if (emulator_aborted) {
    // The processor state still holds the start of the block it gave up on.
    set_fault(fault_kind::untranslatable, eip());
  } else if (faulted) {
    if (err != UC_ERR_OK && fault.has_address && fault_type != UC_MEM_FETCH_UNMAPPED &&
        fault_type != UC_MEM_FETCH_PROT)
      locate_data_fault();
  } else if (err == UC_ERR_INSN_INVALID) {
    set_fault(fault_kind::invalid_instruction, eip());
  } else if (err != UC_ERR_OK) {
    set_fault(fault_kind::emulator, eip(), {}, uint32_t(err));
  }
  return faulted;
}

void runner::on_trap(guest &g) {
  if (keeps_history(g) && cursor < history.size()) return reexecute_trap(g);
  if (replayer) return replay_trap(g);
  trap_record t = g.trap(sys.keep_data || !g.profile.empty());
  double begin = options.trace ? seconds() : 0;
  bool served = true;
  if (recorder || keeps_history(g)) g.memory.journal = &g.journal;
  outcome o = sys.serve(g, t, served);
  g.memory.journal = nullptr;
  // What the call wrote into code must not run as the code that was there.
  for (auto [from, to] : g.memory.code_written) uc_ctl_remove_cache(g.uc, from, to);
  g.memory.code_written.clear();
  if (o.kind == outcome::wait) {
    g.pending = std::move(t);
    g.pending_start = begin;
    note_wait(g);
    why = stop::wait;
    uc_emu_stop(g.uc);
    return;
  }
  complete(g, t, served, begin, o.kind == outcome::end);
  if (o.kind == outcome::end) {
    why = stop::end;
    uc_emu_stop(g.uc);
  } else if (sys.deadline_hit) {
    uc_emu_stop(g.uc);
  } else if (++g.calls_in_slice >= slice_calls && sys.processes.size() > 1) {
    why = stop::slice;
    uc_emu_stop(g.uc);
  }
}

// A served call: counted, traced, its result in eax.
void runner::complete(guest &g, trap_record &t, bool served, double begin, bool ended) {
  bool keep = keeps_history(g);
  if (recorder || keep) {
    recorded_event e = event_of(g, t, served, ended);
    if (recorder) recorder->add(e);
    if (keep) {
      history.push_back(std::move(e));
      cursor = history.size();
    }
  }
  ++result.trap_count;
  if (!g.profile.empty()) ++g.profile[g.function_at(t.eip - 2)].traps;
  if (trace)
    trace->record(t, g.memory, served, begin, options.trace ? seconds() - begin : 0,
                  sys.next_pid > 2 ? g.pid : 0);
  if (!ended) uc_reg_write(g.uc, UC_X86_REG_EAX, &t.result);
  if (ended && &g == &first()) result.exit_status = int32_t(t.ebx);
  if (options.record_traps) result.traps.push_back(std::move(t));
  if (keep && !ended) snapshots.maybe_take(g.uc, g.memory, g.started, cursor);
}

namespace {

// What a call's bytes went to: the console (replayed), a file (checked).
bool to_console(const process &p, const trap_record &t) {
  return t.number == KIVOS_SYS_WRITE && t.ebx < max_descriptors && p.fds[t.ebx] &&
         p.fds[t.ebx]->kind == open_object::console_out;
}
bool to_file(const process &p, const trap_record &t) {
  if (t.number == KIVOS_SYS_WRITEFILE || t.number == KIVOS_SYS_STREAM_WRITE) return true;
  return t.number == KIVOS_SYS_WRITE && t.ebx < max_descriptors && p.fds[t.ebx] &&
         p.fds[t.ebx]->kind == open_object::file;
}
// A call as a message names it: write(0x1, 0x402620, 0x5).
std::string call_text(uint32_t number, uint32_t ebx, uint32_t ecx, uint32_t edx) {
  char args[64];
  std::snprintf(args, sizeof args, "(%#x, %#x, %#x)", ebx, ecx, edx);
  return trap_name(number) + args;
}

uint64_t hash_written(const process &p, const trap_record &t) {
  std::string bytes;
  p.memory.append(t.ecx, t.edx, bytes);
  return hash_bytes(bytes.data(), bytes.size());
}

} // namespace

// A served call, as the recording keeps it: the call, what came back, and
// what the kernel wrote into the process.
recorded_event runner::event_of(guest &g, const trap_record &t, bool served, bool ended) {
  recorded_event e;
  e.pid = g.pid;
  e.instructions = recorded_count(g);
  e.number = t.number;
  e.ebx = t.ebx;
  e.ecx = t.ecx;
  e.edx = t.edx;
  e.result = t.result;
  e.writes = std::move(g.journal);
  g.journal.clear();
  if (ended) e.flags |= recorded_event::ended;
  if (!served) e.flags |= recorded_event::unserved;
  if (t.injected) e.flags |= recorded_event::injected;
  if (!ended && to_console(g, t)) e.flags |= recorded_event::console;
  if (!ended && to_file(g, t)) {
    e.flags |= recorded_event::to_file;
    e.file_hash = hash_written(g, t);
  }
  if (t.number == KIVOS_SYS_SPAWN && t.result > 0) {
    e.flags |= recorded_event::spawned;
    e.image.assign(spawned_image.begin(), spawned_image.end());
    e.child_args = std::move(spawned_args);
  }
  return e;
}

// A call made again after going backwards: what it received the first
// time comes back, and nothing else happens (its output was shown then).
void runner::reexecute_trap(guest &g) {
  trap_record t = g.trap(false);
  const recorded_event &e = history[cursor++];
  for (const auto &[address, bytes] : e.writes)
    g.memory.write(address, bytes.data(), uint32_t(bytes.size()));
  for (auto [from, to] : g.memory.code_written) uc_ctl_remove_cache(g.uc, from, to);
  g.memory.code_written.clear();
  if (e.kind == recorded_event::call && e.number == t.number && !(e.flags & recorded_event::ended))
    uc_reg_write(g.uc, UC_X86_REG_EAX, &e.result);
}

// Puts the first process where it was after `position` instructions: the
// last snapshot before, then forward, quietly, through its history.
bool runner::go_to(guest &f, uint64_t position, const snapshot *from) {
  const snapshot &s = from ? *from : snapshots.before(position);
  if (!snapshot_store::restore(f.uc, f.memory, s)) return false;
  f.started = s.position;
  f.last_started = UINT64_MAX;
  cursor = s.cursor;
  link->quiet = true;
  while (f.started < position) {
    uint64_t before = f.started;
    f.emulate(f.eip(), size_t(position - f.started));
    if (f.started == before) break; // it cannot get further (a fault)
  }
  link->quiet = false;
  return true;
}

// gdb's reverse-stepi and reverse-continue, for a run of one process.
guest_stop runner::reverse(bool step, const stop_points &points) {
  guest &f = first();
  if (sys.processes.size() > 1 || f.pending || f.ended || snapshots.all.empty())
    return {guest_stop::unsupported};
  f.faulted = false;
  uint64_t now = f.started;
  if (now == 0) return {guest_stop::history_begin};
  if (step) return go_to(f, now - 1) ? guest_stop{} : guest_stop{guest_stop::unsupported};
  // Each stretch between snapshots, latest first, is run forward with the
  // breakpoints and watched ranges looked for; the last stop found wins.
  scan_breaks = points.breakpoints;
  std::sort(scan_breaks.begin(), scan_breaks.end());
  scan_watches = points.watches;
  uc_hook watch_hook = 0;
  if (!scan_watches.empty()) {
    guard_write_hooks();
    uc_hook_add(f.uc, &watch_hook, UC_HOOK_MEM_WRITE, reinterpret_cast<void *>(guest::scan_write),
                f.e, 1, 0);
  }
  for (uint64_t limit = now; limit > 0;) {
    const snapshot &s = snapshots.before(limit - 1);
    uint64_t start = s.position;
    found_at.reset();
    found_watch.reset();
    scanning = true;
    scan_before = limit;
    bool went = go_to(f, limit, &s);
    scanning = false;
    if (!went) {
      if (watch_hook) uc_hook_del(f.uc, watch_hook);
      return {guest_stop::unsupported};
    }
    if (found_at) break; // the last stop between the snapshot and the limit
    limit = start;
  }
  if (watch_hook) uc_hook_del(f.uc, watch_hook);
  if (!found_at) {
    go_to(f, 0);
    return {guest_stop::history_begin};
  }
  std::optional<uint32_t> watched = found_watch;
  go_to(f, *found_at);
  guest_stop stop;
  stop.watched = watched;
  return stop;
}

// The run left its recording: it ends there, saying where.
void runner::diverge(guest &g, const std::string &what) {
  why = stop::slice;
  if (diverged.empty())
    diverged = "the run left its recording: after " + std::to_string(count(g)) +
               " instructions pid " + std::to_string(g.pid) + " " + what;
  uc_emu_stop(g.uc);
}

// Serves a call from the recording: the result and the bytes that came
// back, the console output made again, file writes checked, not made.
void runner::replay_trap(guest &g) {
  trap_record t = g.trap(true);
  std::string err;
  const recorded_event *peeked = replayer->peek(err);
  auto call = [&] { return "made " + call_text(t.number, t.ebx, t.ecx, t.edx); };
  if (!peeked) return diverge(g, call() + " (" + err + ")");
  if (peeked->kind != recorded_event::call || peeked->pid != g.pid || peeked->number != t.number ||
      peeked->ebx != t.ebx || peeked->ecx != t.ecx || peeked->edx != t.edx ||
      (counted && peeked->instructions != count(g))) {
    std::string had = peeked->kind == recorded_event::call
                          ? call_text(peeked->number, peeked->ebx, peeked->ecx, peeked->edx) +
                                " of pid " + std::to_string(peeked->pid) +
                                (counted ? " after " + std::to_string(peeked->instructions) : "")
                      : peeked->kind == recorded_event::tsc ? "a counter read"
                                                            : "the end of the run";
    return diverge(g, call() + " where the recording has " + had);
  }
  recorded_event e;
  replayer->next(e, err);
  double begin = options.trace ? seconds() : 0;
  sys.capture_in(g, t);
  if (e.flags & recorded_event::to_file && hash_written(g, t) != e.file_hash)
    return diverge(g, call() + ", writing other bytes than the recording's");
  if (e.flags & recorded_event::console)
    sys.console_write(g, t.ecx, uint32_t(std::max(e.result, 0)));
  if (keeps_history(g)) g.memory.journal = &g.journal;
  for (const auto &[address, bytes] : e.writes)
    g.memory.write(address, bytes.data(), uint32_t(bytes.size()));
  for (auto [from, to] : g.memory.code_written) uc_ctl_remove_cache(g.uc, from, to);
  g.memory.code_written.clear();
  g.memory.journal = nullptr;
  t.result = e.result;
  t.injected = e.flags & recorded_event::injected;
  sys.capture_out(g, t);
  ++sys.epoch;
  if (e.flags & recorded_event::spawned) {
    std::vector<uint8_t> image(e.image.begin(), e.image.end());
    if (sys.start_child(g, image, e.child_args) != e.result)
      return diverge(g, call() + ", whose child did not start as recorded");
  }
  bool ended = e.flags & recorded_event::ended;
  if (ended) sys.end_process(g, int32_t((t.ebx & 0xff) << 8));
  complete(g, t, !(e.flags & recorded_event::unserved), begin, ended);
  // The process goes on while the recording's next event is its own.
  const recorded_event *next = replayer->peek(err);
  if (ended) {
    why = stop::end;
    uc_emu_stop(g.uc);
  } else if (!next || next->kind == recorded_event::finish || next->pid != g.pid) {
    why = stop::slice;
    uc_emu_stop(g.uc);
  }
}

// Runs the processes in the order the recording's events say, until the
// run ends, or until gdb must see the first process: then true.
bool runner::replay() {
  for (;;) {
    std::string err;
    const recorded_event *e = replayer->peek(err);
    if (!e) {
      diverged = err;
      return false;
    }
    guest &f = first();
    if (interrupted) return true;
    if (e->kind == recorded_event::finish) {
      if (e->ending == run_end::exited || f.ended) return false;
      if (e->ending == run_end::fault) {
        if (!f.faulted && !f.ended && diverged.empty() && run_guest(f)) return true;
        return false;
      }
      // A limit, a signal or a deadlock ended it, after the last call: where
      // the recording says, when it counted.
      if (counted && e->instructions > count(f)) f.emulate(f.eip(), e->instructions - count(f));
      result.end = e->ending;
      result.signal = e->signal;
      result.message = e->message;
      return false;
    }
    guest *g = find(e->pid);
    if (!g) {
      diverged = "the recording has an event of pid " + std::to_string(e->pid) +
                 ", a process the replay does not have";
      return false;
    }
    if (run_guest(*g)) return true;
    if (!diverged.empty()) return false;
    if (g->faulted) {
      const recorded_event *next = replayer->peek(err);
      if (g != &f || !next || next->kind != recorded_event::finish ||
          next->ending != run_end::fault) {
        diverged = "the run left its recording: after " + std::to_string(count(*g)) +
                   " instructions pid " + std::to_string(g->pid) + " faulted (" +
                   fault_name(g->fault) + ")";
      }
      return false;
    }
  }
}

void runner::note_wait(guest &g) {
  g.waiting.epoch = sys.epoch;
  if (g.waiting.kind == wait_state::retry) g.waiting.wake = clock::now() + retry_interval;
}

// Serves g's waiting call again; true when it no longer waits.
bool runner::retry(guest &g) {
  bool served = true;
  if (recorder || keeps_history(g)) g.memory.journal = &g.journal;
  outcome o = sys.serve(g, *g.pending, served);
  g.memory.journal = nullptr;
  for (auto [from, to] : g.memory.code_written) uc_ctl_remove_cache(g.uc, from, to);
  g.memory.code_written.clear();
  if (o.kind == outcome::wait) {
    note_wait(g);
    return false;
  }
  trap_record t = std::move(*g.pending);
  g.pending.reset();
  g.waiting = {};
  complete(g, t, served, g.pending_start, o.kind == outcome::end);
  return true;
}

// Whether g may run (or have its call served again) now.
bool runner::ready(guest &g) {
  if (g.ended) return false;
  if (!g.pending) return true;
  const wait_state &w = g.waiting;
  switch (w.kind) {
  case wait_state::kivos:
    return w.epoch != sys.epoch;
  case wait_state::host: {
    pollfd x{w.host_fd, w.events, 0};
    return ::poll(&x, 1, 0) > 0;
  }
  case wait_state::until:
  case wait_state::retry:
    return clock::now() >= w.wake;
  case wait_state::none:
    break;
  }
  return true;
}

// Nothing can run: waits for the host on behalf of every process that waits
// for it. False when none does, that is, every process waits for another.
bool runner::wait_for_host() {
  std::vector<pollfd> fds;
  std::optional<clock::time_point> wake;
  for (auto &p : sys.processes) {
    if (p->ended || !p->pending) continue;
    const wait_state &w = p->waiting;
    if (w.kind == wait_state::host) fds.push_back({w.host_fd, w.events, 0});
    if (w.kind == wait_state::until || w.kind == wait_state::retry)
      wake = std::min(wake.value_or(w.wake), w.wake);
  }
  if (fds.empty() && !wake) return false;
  sys.flush_console();
  if (wake_fd >= 0) fds.push_back({wake_fd, POLLIN, 0});
  if (sys.has_deadline) wake = std::min(wake.value_or(sys.deadline), sys.deadline);
  int ms = -1;
  if (wake) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*wake - clock::now());
    ms = int(std::clamp<int64_t>(left.count() + 1, 0, 1 << 30));
  }
  ::poll(fds.data(), fds.size(), ms); // interrupted by the time limit, or woken
  uint64_t drained;
  if (wake_fd >= 0 && fds.back().revents) (void)!::read(wake_fd, &drained, sizeof drained);
  if (sys.has_deadline && clock::now() >= sys.deadline) sys.deadline_hit = true;
  return true;
}

void runner::end_guest(guest &g, int32_t status, const std::string &why) {
  if (trace && !options.trace_with.summary)
    std::fprintf(options.trace, "[pid %d] +++ %s +++\n", g.pid, why.c_str());
  sys.end_process(g, status);
}

// Runs g until the stand-in stops it; true when it stopped for gdb instead
// (a breakpoint, a watchpoint, Ctrl-C, a finished step).
bool runner::run_guest(guest &g, size_t count) {
  running = &g;
  why = stop::none;
  g.calls_in_slice = 0;
  // The time limit is the deadline alarm's, which stops the running engine
  // at the deadline and every few milliseconds after it. The emulator's own
  // timeout is not used: its watching thread can take the end of the
  // previous run for this one's and stop it at once.
  uc_err err = g.emulate(g.eip(), count);
  running = nullptr;
  if (g.ended || why != stop::none) return false;
  if (g.classify(err)) {
    if (&g == &first()) return false; // the run ends with it
    end_guest(g, fault_signal(g.fault), "killed by fault: " + fault_name(g.fault));
    return false;
  }
  if (instruction_limit_hit || sys.deadline_hit || time_up() || ending_signal()) return false;
  if (debugging && &g == &first()) return true;
  uint32_t pc = g.eip();
  uint8_t before = 0;
  if (g.memory.read(pc - 1, &before, 1, prot_exec) && before == 0xf4)
    g.set_fault(fault_kind::halt, pc - 1);
  else
    g.set_fault(fault_kind::stopped, pc);
  if (&g != &first())
    end_guest(g, fault_signal(g.fault), "killed by fault: " + fault_name(g.fault));
  return false;
}

// Runs the processes in turn until the run ends (the first process ended or
// faulted, a limit, a deadlock), or until gdb must see the first process:
// then true. With until_first_ready, also as soon as the first process's
// waiting call has been served.
bool runner::schedule(bool until_first_ready) {
  for (;;) {
    guest &f = first();
    if (f.ended || f.faulted || instruction_limit_hit || sys.deadline_hit || time_up() ||
        ending_signal())
      return false;
    if (interrupted) return true;
    if (until_first_ready && !f.pending) return true;
    guest *g = nullptr;
    for (size_t i = 0; i < sys.processes.size() && !g; ++i) {
      guest &c = at((turn + i) % sys.processes.size());
      if (ready(c)) g = &c;
    }
    if (!g) {
      if (wait_for_host()) continue;
      result.end = run_end::deadlock;
      result.message = "deadlock: ";
      for (auto &p : sys.processes)
        if (!p->ended)
          result.message +=
              "pid " + std::to_string(p->pid) + " waits in " + trap_name(p->pending->number) + ", ";
      result.message += "and only another process could end each wait";
      return false;
    }
    turn = size_t(std::find_if(sys.processes.begin(), sys.processes.end(),
                               [&](auto &p) { return p.get() == g; }) -
                  sys.processes.begin()) +
           1;
    if (g->pending && !retry(*g)) continue;
    if (until_first_ready && g == &f) return true;
    if (!g->ended && run_guest(*g)) return true;
    if (g->ended && g != &f && g->e) release(*g);
  }
}

// Says how the run ended once the first process stopped for good.
void runner::conclude_first(uc_err) {
  guest &f = first();
  if (result.end == run_end::deadlock) return;
  if (int signal = ending_signal(); signal && !f.ended && !f.faulted) {
    result.end = run_end::signal;
    result.signal = signal;
    result.message = std::string("ended by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM");
    return;
  }
  if (f.ended && !f.faulted) {
    result.end = run_end::exited;
    return;
  }
  if (instruction_limit_hit) {
    result.end = run_end::instruction_limit;
    result.message = "instruction limit of " + std::to_string(options.max_instructions) +
                     " reached at eip " + hex8(f.eip());
    return;
  }
  if (!f.faulted) {
    result.end = run_end::timeout;
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", options.timeout_seconds);
    result.message = std::string("time limit of ") + limit + " s reached at eip " + hex8(f.eip());
    return;
  }
  result.end = run_end::fault;
  result.fault = f.fault;
  result.message = "fault: " + fault_name(f.fault);
  if (f.fault.has_address) result.message += " at " + hex8(f.fault.address);
  result.message += " (eip " + hex8(f.fault.eip) + ")";
  if (f.fault.kind == fault_kind::stack_overflow)
    result.message += "; the stack holds " + std::to_string(options.stack_size) +
                      " bytes, --stack-size gives it more";
}

void runner::end_others() {
  for (auto &p : sys.processes)
    if (!p->ended && p.get() != &first())
      end_guest(static_cast<guest &>(*p), 9 /* SIGKILL */, "ended with the run");
}

void runner::execute() {
  // At least a microsecond, at most ten years: no limit rounds to none and
  // no clock arithmetic overflows.
  double limit = std::min(options.timeout_seconds, 3.2e8);
  uint64_t timeout_us = limit > 0 ? std::max<uint64_t>(1, uint64_t(limit * 1e6)) : 0;
  if (timeout_us) {
    sys.has_deadline = true;
    sys.deadline = clock::now() + std::chrono::microseconds(timeout_us);
  }
  // Besides the emulator's own time limit, which a very short limit can
  // slip past, and for a process blocked in the host.
  auto stop = [](void *self) {
    if (guest *g = static_cast<runner *>(self)->running) uc_emu_stop(g->uc);
  };
  deadline_alarm alarm(timeout_us ? &sys.deadline : nullptr, stop, this);
  std::optional<ending_signals> signals;
  if (options.end_on_signals) signals.emplace(stop, this);
  if (!replayer) {
    schedule();
  } else {
    replay();
    if (!diverged.empty()) {
      result.end = run_end::load_error;
      result.message = diverged + (changed_program ? " (the program changed since)" : "");
      return;
    }
    if (result.end != run_end::load_error) return; // the recording said how it ended
  }
  conclude_first(UC_ERR_OK);
}

// Runs the program under gdb, without a time limit; once gdb lets it go, it
// runs on under the time limit.
void runner::debug() {
  debugging = true;
  wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  guest &f = first();
  gdb_link stub_link{
      f.uc, f.memory,
      [this, &f](bool step) {
        interrupted = false;
        // A stop after a fault is not that fault again; code the
        // emulator gave up on is not run again.
        if (!f.emulator_aborted) f.faulted = false;
        if (step && !f.pending && !f.faulted) run_guest(f, 1);
        // A continue runs everyone; a step that waits lets the others
        // run until its call is served.
        if (!f.ended && !f.faulted && !interrupted && (f.pending || !step))
          replayer ? replay() : schedule(step);
        if (!diverged.empty()) // the stub reports it as a fault
          return guest_stop{guest_stop::faulted, SIGABRT};
        if (f.ended && !f.faulted) {
          result.end = run_end::exited;
          return guest_stop{guest_stop::exited, result.exit_status};
        }
        if (f.faulted) {
          conclude_first(UC_ERR_OK);
          return guest_stop{guest_stop::faulted, fault_signal(f.fault)};
        }
        return guest_stop{};
      },
      [this] {
        interrupted = true;
        if (guest *g = running) uc_emu_stop(g->uc);
        uint64_t one = 1;
        (void)!::write(wake_fd, &one, sizeof one);
      },
      [this](bool step, const stop_points &points) { return reverse(step, points); }};
  link = &stub_link;
  snapshots.budget = size_t(options.snapshot_memory);
  snapshots.take(f.uc, f.memory, 0, 0); // the start of the run, as gdb first sees it
  std::string err = serve_gdb(stub_link, *options.gdb_port);
  link = nullptr;
  ::close(std::exchange(wake_fd, -1));
  debugging = false;
  interrupted = false;
  if (!diverged.empty()) {
    result.end = run_end::load_error;
    result.message = diverged;
    return;
  }
  if (err.empty() && !f.ended && !f.faulted) return execute(); // detached
  // How the program ended, if it did, says more than how gdb left.
  if (!err.empty() && result.end == run_end::load_error) {
    result.end = run_end::fault;
    result.message = err;
  }
}

} // namespace

run_result run(const run_options &options) {
  run_result result;
  runner r(options, result);
  auto g = std::make_unique<guest>(r);
  g->pid = r.sys.next_pid++;
  g->program = options.program;
  std::string err;
  auto image = elf32::read_file(options.program, err);
  std::vector<std::string> args = options.args;
  if (args.empty()) args.push_back(options.program);
  std::string name = options.program.substr(options.program.rfind('/') + 1);
  if (image && !options.replay.empty()) {
    // The recording says how the program ran; nothing is read from outside.
    r.replayer.emplace();
    err = r.replayer->open(options.replay);
    const recording_header &h = r.replayer->header();
    if (err.empty() && h.program != name)
      err = options.replay + " is a recording of " + h.program + ", not of " + name;
    args = h.args;
    r.stack_size = h.stack_size;
    r.counted = h.counted;
    r.changed_program = h.image_hash != hash_bytes(image->data(), image->size());
  }
  g->stack_size = r.stack_size;
  if (!options.record.empty()) {
    r.recorder.emplace(); // before start: it installs the hooks
    r.counted = options.gdb_port.has_value();
  }
  if (image && err.empty()) err = g->start(*image, args);
  if (err.empty() && !options.replay.empty()) {
    // No root is opened: a replay reads no file.
  } else if (err.empty()) {
    err = r.sys.fs.open_root(options.root);
  }
  if (err.empty() && !options.record.empty()) {
    err = r.recorder->open(options.record, {name, hash_bytes(image->data(), image->size()), args,
                                            r.stack_size, r.counted});
  }
  if (!err.empty()) {
    result.end = run_end::load_error;
    result.message = err;
    return result;
  }
  auto console = std::make_shared<open_object>(open_object::console_out);
  g->fds[0] = std::make_shared<open_object>(open_object::console_in);
  g->fds[1] = g->fds[2] = console;
  r.sys.processes.push_back(std::move(g));
  use_store_shortcut(options.store_shortcut);
  if (options.gdb_port)
    r.debug();
  else
    r.execute();
  r.end_others();
  result.instructions = r.instructions;
  if (r.recorder) {
    recorded_event end;
    end.kind = recorded_event::finish;
    end.ending = result.end;
    end.exit_status = result.exit_status;
    end.signal = result.signal;
    end.instructions = r.recorded_count(r.first());
    end.message = result.message;
    result.record_error = r.recorder->finish(end);
  }
  // One profile for all processes, by function name, in the order first met;
  // call stacks under each process.
  std::map<std::string, size_t> row;
  for (size_t i = 0; i < r.sys.processes.size(); ++i) {
    guest &x = r.at(i);
    if (!x.follows_calls) continue;
    // Named only when counted: a hostile table's names can be huge.
    std::unordered_map<uint32_t, std::string> named;
    auto name = [&](uint32_t j) -> const std::string & {
      auto [it, fresh] = named.try_emplace(j);
      if (fresh)
        it->second = j < x.symbols.functions.size()
                         ? readable_name(x.symbols.name(x.symbols.functions[j]))
                         : "(unknown)";
      return it->second;
    };
    for (size_t j = 0; j < x.profile.size(); ++j) {
      const profile_entry &p = x.profile[j];
      if (!p.instructions && !p.traps && !p.calls) continue;
      auto [it, fresh] = row.try_emplace(name(uint32_t(j)), result.profile.size());
      if (fresh) result.profile.push_back({name(uint32_t(j))});
      result.profile[it->second].instructions += p.instructions;
      result.profile[it->second].calls += p.calls;
      result.profile[it->second].traps += p.traps;
    }
    if (options.stacks) {
      std::string program = x.program.substr(x.program.rfind('/') + 1);
      add_stacks(x.calls, program + " (pid " + std::to_string(x.pid) + ")", name, result.stacks);
    }
  }
  std::stable_sort(result.profile.begin(), result.profile.end(),
                   [](const auto &a, const auto &b) { return a.instructions > b.instructions; });
  if (options.coverage) {
    std::vector<const covered_program *> programs;
    for (const auto &[image, c] : r.covered)
      if (c) programs.push_back(c.get());
    result.coverage = lcov(programs);
  }
  if (r.trace) r.trace->finish();
  r.sys.flush_console();
  return result;
}

int exit_code(const run_result &r) {
  switch (r.end) {
  case run_end::exited:
    // Output that never arrived makes the run a failure, whatever the program said.
    return r.output_error.empty() ? r.exit_status & 0xff : exit_tool_error;
  case run_end::fault:
    return exit_fault;
  case run_end::timeout:
  case run_end::instruction_limit:
  case run_end::deadlock:
    return exit_timeout;
  case run_end::signal:
    return 128 + r.signal;
  case run_end::load_error:
    break;
  }
  return exit_tool_error;
}

} // namespace kivos
