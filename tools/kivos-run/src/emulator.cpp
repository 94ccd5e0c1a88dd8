// Loads a kivos executable into an emulated 32-bit x86 processor and runs it,
// serving every int 0x80 in an interrupt hook.
#include "../../common/text.h"
#include "gdb_stub.h"
#include "guest_memory.h"
#include "kernel.h"
#include "loader.h"
#include "store_shortcut.h"
#include "trace.h"

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <kivos/run.h>
#include <kivos/syscalls.h>
#include <unicorn/unicorn.h>
#include <unordered_map>

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

struct session {
  const run_options &options;
  run_result &result;
  guest_memory memory;
  kernel k;
  uc_engine *uc = nullptr;
  bool faulted = false;
  bool probing = false; // re-running one instruction to locate a fault
  bool probe_hit = false;
  uc_mem_type fault_type{};
  uint64_t instructions = 0;
  uint64_t tsc_reads = 0;
  using clock = std::chrono::steady_clock;
  clock::time_point started = clock::now();
  std::optional<tracer> trace;
  struct block_info {
    uint16_t instructions = 0;
    size_t function = 0;
  };
  std::unordered_map<uint64_t, block_info> blocks; // by (address, size)
  elf32::symbol_table symbols;                     // with options.profile
  std::vector<profile_entry> profile; // one per function, and one for the rest; named at the end
  bool instruction_limit_hit = false;
  bool counted = false; // a run with an instruction count has been made
  bool emulator_aborted = false;

  session(const run_options &o, run_result &r) : options(o), result(r), k(o, memory, r) {
    if (o.trace) trace.emplace(o);
  }
  ~session() {
    if (uc) uc_close(uc);
  }

  // Runs the emulator with an abort caught; after one, the engine is only
  // read and closed.
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

  uc_err emulate(uint64_t begin, uint64_t timeout_us, size_t count) {
    // Unicorn drops every translated block (about two seconds with its large
    // code buffer) when a run without an instruction count follows one with
    // a count, as gdb's continue follows a step; so once a count was given,
    // later runs keep one that never runs out.
    if (count)
      counted = true;
    else if (counted)
      count = SIZE_MAX;
    uc_err err = UC_ERR_EXCEPTION; // what an abort returns
    guarded([&] { err = uc_emu_start(uc, begin, 0, timeout_us, count); });
    return err;
  }

  void fault(std::string kind, uint32_t eip, std::optional<uint32_t> address = {}) {
    faulted = true;
    result.fault.kind = std::move(kind);
    result.fault.eip = eip;
    result.fault.has_address = address.has_value();
    result.fault.address = address.value_or(0);
  }

  uint32_t eip() {
    uint32_t v = 0;
    uc_reg_read(uc, UC_X86_REG_EIP, &v);
    return v;
  }

  void on_trap() {
    int ids[5] = {UC_X86_REG_EAX, UC_X86_REG_EBX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EIP};
    uint32_t regs[5] = {};
    void *ptrs[5] = {&regs[0], &regs[1], &regs[2], &regs[3], &regs[4]};
    uc_reg_read_batch(uc, ids, ptrs, k.keep_data || !profile.empty() ? 5 : 4);
    trap_record t;
    t.number = regs[0];
    t.ebx = regs[1];
    t.ecx = regs[2];
    t.edx = regs[3];
    t.eip = regs[4];
    auto begin = options.trace ? std::chrono::steady_clock::now() : clock::time_point{};
    bool served = k.serve(t);
    // What the call wrote into code must not run as the code that was there.
    for (auto [begin, end] : memory.code_written) uc_ctl_remove_cache(uc, begin, end);
    memory.code_written.clear();
    ++result.trap_count;
    if (!profile.empty()) ++profile[function_at(t.eip - 2)].traps;
    if (trace) {
      auto end = clock::now();
      trace->record(t, memory, served, std::chrono::duration<double>(begin - started).count(),
                    std::chrono::duration<double>(end - begin).count());
    }
    if (k.exited || k.deadline_hit) {
      uc_emu_stop(uc);
    } else {
      uc_reg_write(uc, UC_X86_REG_EAX, &t.result);
    }
    if (options.record_traps) result.traps.push_back(std::move(t));
  }

  static void intr_hook(uc_engine *, uint32_t intno, void *user) {
    auto &s = *static_cast<session *>(user);
    if (intno == 0x80 && !s.probing) return s.on_trap();
    static const char *const names[] = {"divide error",
                                        "debug exception",
                                        "non-maskable interrupt",
                                        "breakpoint",
                                        "overflow",
                                        "bound range exceeded",
                                        "invalid opcode",
                                        "no floating-point unit",
                                        "double fault",
                                        "coprocessor segment overrun",
                                        "invalid TSS",
                                        "segment not present",
                                        "stack segment fault",
                                        "general protection fault",
                                        "page fault",
                                        "reserved exception",
                                        "floating-point error",
                                        "alignment check"};
    std::string kind =
        intno < std::size(names) ? names[intno] : "interrupt " + std::to_string(intno);
    if (!s.probing) s.fault(kind, s.eip());
    uc_emu_stop(s.uc);
  }

  static bool mem_hook(uc_engine *, uc_mem_type type, uint64_t address, int, int64_t, void *user) {
    auto &s = *static_cast<session *>(user);
    if (s.probing) {
      s.probe_hit = type == s.fault_type && uint32_t(address) == s.result.fault.address;
      return false;
    }
    const char *kind = "memory access";
    switch (type) {
    case UC_MEM_READ_UNMAPPED:
      kind = "read from unmapped memory";
      break;
    case UC_MEM_WRITE_UNMAPPED:
      kind = "write to unmapped memory";
      break;
    case UC_MEM_FETCH_UNMAPPED:
      kind = "instruction fetch from unmapped memory";
      break;
    case UC_MEM_READ_PROT:
      kind = "read from protected memory";
      break;
    case UC_MEM_WRITE_PROT:
      kind = "write to read-only memory";
      break;
    case UC_MEM_FETCH_PROT:
      kind = "instruction fetch from non-executable memory";
      break;
    default:
      break;
    }
    uint32_t stack_low = stack_top - s.options.stack_size;
    if ((type == UC_MEM_WRITE_UNMAPPED || type == UC_MEM_READ_UNMAPPED) &&
        uint32_t(address) - (stack_low - page_size) < page_size)
      kind = "stack overflow";
    s.fault_type = type;
    s.fault(kind,
            type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT ? uint32_t(address)
                                                                       : s.eip(),
            uint32_t(address));
    return false;
  }

  // Counts instructions a translated block at a time: the emulator says how
  // many a block holds, once per block.
  static void block_hook(uc_engine *uc, uint64_t address, uint32_t size, void *user) {
    auto &s = *static_cast<session *>(user);
    auto [it, fresh] = s.blocks.try_emplace(address << 16 | size, block_info{});
    if (fresh) {
      uc_tb tb{};
      if (uc_ctl_request_cache(uc, address, &tb) == UC_ERR_OK) it->second.instructions = tb.icount;
      it->second.function = s.function_at(uint32_t(address));
    }
    s.instructions += it->second.instructions;
    if (!s.profile.empty()) s.profile[it->second.function].instructions += it->second.instructions;
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

  static void store_hook(uc_engine *, uc_mem_type, uint64_t, int, int64_t, void *user) {
    ++static_cast<session *>(user)->result.stores;
  }

  static void code_hook(uc_engine *, uint64_t, uint32_t, void *user) {
    auto &s = *static_cast<session *>(user);
    if (s.options.max_instructions && s.instructions >= s.options.max_instructions) {
      s.instruction_limit_hit = true;
      uc_emu_stop(s.uc);
      return;
    }
    ++s.instructions;
  }

  // The emulator hands the guest the host's time-stamp counter and cannot
  // hook the instruction, so for a fixed counter code hooks answer in its
  // place: over every writable code region, whose bytes may become an rdtsc
  // at any time, and around every place an rdtsc (prefixes included) could
  // start in read-only code. The hook looks at the bytes it is about to run,
  // so an address that holds something else runs as it is. Nearby places
  // share a hook, and the count of hooks stays bounded whatever the code.
  void hook_rdtsc() {
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
    for (const region &r : memory.regions) {
      if (!(r.prot & prot_exec)) continue;
      if (r.prot & prot_write) {
        add(r.base, r.base + r.size - 1);
        continue;
      }
      for (uint32_t i = 0; i < r.size; ++i) {
        auto *at = static_cast<const uint8_t *>(std::memchr(r.host + i, 0x0f, r.size - i));
        if (!at) break;
        i = uint32_t(at - r.host);
        uint8_t next = 0;
        if (!memory.read(r.base + i + 1, &next, 1, prot_exec) || next != 0x31) continue;
        uint32_t first = r.base + i;
        for (uint8_t b;
             r.base + i - first < 14 && memory.read(first - 1, &b, 1, prot_exec) && is_prefix(b);)
          --first;
        add(first, r.base + i);
      }
    }
    std::sort(spans.begin(), spans.end());
    for (auto [first, last] : spans) {
      uc_hook h;
      uc_hook_add(uc, &h, UC_HOOK_CODE, reinterpret_cast<void *>(rdtsc_hook), this, first, last);
    }
  }

  static bool is_prefix(uint8_t b) {
    return b == 0x26 || b == 0x2e || b == 0x36 || b == 0x3e || b == 0x64 || b == 0x65 ||
           b == 0x66 || b == 0x67 || b == 0xf0 || b == 0xf2 || b == 0xf3;
  }

  static void rdtsc_hook(uc_engine *uc, uint64_t address, uint32_t, void *user) {
    auto &s = *static_cast<session *>(user);
    uint8_t code[16] = {};
    uint32_t at = uint32_t(address), n = 0;
    while (n < 15 && s.memory.read(at + n, &code[n], 1, prot_exec) && is_prefix(code[n])) ++n;
    if (!s.memory.read(at + n, &code[n], 2, prot_exec) || code[n] != 0x0f || code[n + 1] != 0x31)
      return;
    uint64_t tsc = *s.options.fixed_tsc + s.tsc_reads++;
    uint32_t lo = uint32_t(tsc), hi = uint32_t(tsc >> 32), next = at + n + 2;
    uc_reg_write(uc, UC_X86_REG_EAX, &lo);
    uc_reg_write(uc, UC_X86_REG_EDX, &hi);
    uc_reg_write(uc, UC_X86_REG_EIP, &next);
  }

  // The emulator reports a data fault at the start of its translated block.
  // Step the block's instructions one at a time from the state at the fault
  // until one of them repeats the same fault: that is the faulting one.
  void locate_data_fault() {
    uc_context *ctx = nullptr;
    if (uc_context_alloc(uc, &ctx) != UC_ERR_OK) return;
    uc_context_save(uc, ctx);
    probing = true;
    uint32_t pc = result.fault.eip;
    for (int step = 0; step < 64; ++step) {
      uc_context_restore(uc, ctx);
      probe_hit = false;
      uc_err err = emulate(pc, 0, 1);
      if (emulator_aborted) break;
      if (probe_hit) {
        result.fault.eip = pc;
        break;
      }
      uint32_t next = eip();
      if (err != UC_ERR_OK || next <= pc || next - pc > 15) break;
      pc = next;
    }
    probing = false;
    uc_context_free(ctx);
  }

  std::string start(uint32_t &entry, uint32_t &sp) {
    std::string err =
        load_program(options, memory, entry, sp, options.profile ? &symbols : nullptr);
    if (!err.empty()) return err;
    if (options.profile && !symbols.functions.empty()) profile.resize(symbols.functions.size() + 1);
    err = k.fs.open_root(options.root);
    if (!err.empty()) return err;

    use_store_shortcut(options.store_shortcut);
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &uc) != UC_ERR_OK) return "cannot start the emulator";
    // The emulator numbers its memory in the order it is mapped and keeps
    // its records of code in tables of 1,024 pages of that numbering; a
    // store to a page whose table also covers code takes a much slower
    // path. So the code goes first, then 4 MiB of room that is given back,
    // then everything writable.
    constexpr uint32_t gap_base = 0xfc000000, gap_size = 4u << 20;
    auto map = [&](const region &r) -> std::string {
      uint32_t prot = (r.prot & prot_read ? UC_PROT_READ : 0) |
                      (r.prot & prot_write ? UC_PROT_WRITE : 0) |
                      (r.prot & prot_exec ? UC_PROT_EXEC : 0);
      uc_err err = UC_ERR_OK;
      if (!guarded([&] { err = uc_mem_map_ptr(uc, r.base, r.size, prot, r.host); }))
        return "the emulator gave up mapping guest memory at " + hex8(r.base);
      return err == UC_ERR_OK ? "" : "cannot map guest memory at " + hex8(r.base);
    };
    for (const region &r : memory.regions)
      if (!(r.prot & prot_write))
        if (std::string err = map(r); !err.empty()) return err;
    bool gap = !memory.find(gap_base, 0) && !memory.find(gap_base + gap_size - 1, 0) &&
               uc_mem_map(uc, gap_base, gap_size, UC_PROT_NONE) == UC_ERR_OK;
    for (const region &r : memory.regions)
      if (r.prot & prot_write)
        if (std::string err = map(r); !err.empty()) return err;
    if (gap) uc_mem_unmap(uc, gap_base, gap_size);
    uc_hook h;
    uc_hook_add(uc, &h, UC_HOOK_INTR, reinterpret_cast<void *>(intr_hook), this, 1, 0);
    uc_hook_add(uc, &h, UC_HOOK_MEM_INVALID, reinterpret_cast<void *>(mem_hook), this, 1, 0);
    // A limit needs every instruction seen; a count only every block.
    if (options.max_instructions)
      uc_hook_add(uc, &h, UC_HOOK_CODE, reinterpret_cast<void *>(code_hook), this, 1, 0);
    else if (options.count_instructions || options.profile)
      uc_hook_add(uc, &h, UC_HOOK_BLOCK, reinterpret_cast<void *>(block_hook), this, 1, 0);
    if (options.count_stores)
      uc_hook_add(uc, &h, UC_HOOK_MEM_WRITE, reinterpret_cast<void *>(store_hook), this, 1, 0);
    if (options.fixed_tsc) hook_rdtsc();
    // Without exits the emulator stops silently when the program reaches
    // address 0; with one that cannot be reached, it faults there instead.
    uc_ctl_exits_enable(uc);
    uint64_t exits[1] = {0xffffffffffffull};
    uc_ctl_set_exits(uc, exits, 1);
    uc_reg_write(uc, UC_X86_REG_ESP, &sp);
    return {};
  }

  void execute(uint32_t entry) {
    // At least a microsecond, at most ten years: no limit rounds to none and
    // no clock arithmetic overflows.
    double seconds = std::min(options.timeout_seconds, 3.2e8);
    uint64_t timeout_us = seconds > 0 ? std::max<uint64_t>(1, uint64_t(seconds * 1e6)) : 0;
    if (timeout_us) {
      k.has_deadline = true;
      k.deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(timeout_us);
    }
    // Besides the emulator's own time limit, which a very short limit can
    // slip past, and for a program blocked in the host.
    deadline_alarm alarm(
        timeout_us ? &k.deadline : nullptr,
        [](void *engine) { uc_emu_stop(static_cast<uc_engine *>(engine)); }, uc);
    uc_err err = emulate(entry, timeout_us, 0);
    conclude(err);
  }

  // Runs the program under gdb, without a time limit.
  void debug(uint32_t entry) {
    uc_reg_write(uc, UC_X86_REG_EIP, &entry);
    gdb_link link{uc, memory, [this](bool step) {
                    uc_err err = emulate(eip(), 0, step ? 1 : 0);
                    if (k.exited) {
                      result.end = run_end::exited;
                      return guest_stop{guest_stop::exited, result.exit_status};
                    }
                    if (!faulted && !emulator_aborted && err == UC_ERR_OK) return guest_stop{};
                    conclude(err);
                    return guest_stop{guest_stop::faulted, signal_of(result.fault.kind)};
                  }};
    std::string err = serve_gdb(link, *options.gdb_port);
    // How the program ended, if it did, says more than how gdb left.
    if (!err.empty() && result.end == run_end::load_error) {
      result.end = run_end::fault;
      result.message = err;
    }
  }

  static int signal_of(const std::string &kind) {
    if (kind == "invalid instruction" || kind == "code the emulator cannot translate") return 4;
    return kind == "divide error" ? 8 : 11; // SIGFPE, else SIGSEGV
  }

  // Says how the run ended after the emulator returned `err`.
  void conclude(uc_err err) {
    if (k.exited) {
      result.end = run_end::exited;
      return;
    }
    if (emulator_aborted) {
      // The processor state still holds the start of the block it gave up on.
      fault("code the emulator cannot translate", eip());
    } else if (faulted) {
      if (err != UC_ERR_OK && result.fault.has_address && fault_type != UC_MEM_FETCH_UNMAPPED &&
          fault_type != UC_MEM_FETCH_PROT)
        locate_data_fault();
    } else if (err == UC_ERR_INSN_INVALID) {
      fault("invalid instruction", eip());
    } else if (err != UC_ERR_OK) {
      fault(uc_strerror(err), eip());
    } else if (instruction_limit_hit) {
      result.end = run_end::instruction_limit;
      result.message = "instruction limit of " + std::to_string(options.max_instructions) +
                       " reached at eip " + hex8(eip());
      return;
    } else {
      size_t timed_out = 0;
      uc_query(uc, UC_QUERY_TIMEOUT, &timed_out);
      uint32_t pc = eip();
      uint8_t before = 0;
      if (timed_out || k.deadline_hit || time_up()) {
        result.end = run_end::timeout;
        char limit[32];
        std::snprintf(limit, sizeof limit, "%g", options.timeout_seconds);
        result.message = std::string("time limit of ") + limit + " s reached at eip " + hex8(pc);
        return;
      }
      if (memory.read(pc - 1, &before, 1, prot_exec) && before == 0xf4)
        fault("halt instruction", pc - 1);
      else
        fault("the processor stopped", pc);
    }
    result.end = run_end::fault;
    result.message = "fault: " + result.fault.kind;
    if (result.fault.has_address) result.message += " at " + hex8(result.fault.address);
    result.message += " (eip " + hex8(result.fault.eip) + ")";
    if (result.fault.kind == "stack overflow")
      result.message += "; the stack holds " + std::to_string(options.stack_size) +
                        " bytes, --stack-size gives it more";
  }
};

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

} // namespace

run_result run(const run_options &options) {
  run_result result;
  session s(options, result);
  uint32_t entry = 0, sp = 0;
  std::string err = s.start(entry, sp);
  if (!err.empty()) {
    result.end = run_end::load_error;
    result.message = err;
    return result;
  }
  if (options.gdb_port)
    s.debug(entry);
  else
    s.execute(entry);
  result.instructions = s.instructions;
  for (size_t i = 0; i < s.profile.size(); ++i) {
    profile_entry &p = s.profile[i];
    if (!p.instructions && !p.traps) continue;
    p.function = i < s.symbols.functions.size()
                     ? readable_name(s.symbols.name(s.symbols.functions[i]))
                     : "(unknown)";
    result.profile.push_back(std::move(p));
  }
  std::stable_sort(result.profile.begin(), result.profile.end(),
                   [](const auto &a, const auto &b) { return a.instructions > b.instructions; });
  if (s.trace) s.trace->finish();
  s.k.flush_console();
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
    return exit_timeout;
  case run_end::load_error:
    break;
  }
  return exit_tool_error;
}

} // namespace kivos
