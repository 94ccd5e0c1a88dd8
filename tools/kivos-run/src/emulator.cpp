// Runs kivos programs: each process in an emulated 32-bit x86 processor of
// its own, one at a time. The scheduler switches only at system calls (when
// a process waits, ends, or has made a slice of calls), never on a clock, so
// the same programs with the same input run the same way every time.
#include "emulator.h"

namespace kivos::emu {

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
  if ((r.options.profile || r.options.stacks) && (parent || !symbols.functions.empty()))
    profile.resize(symbols.functions.size() + 1);
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
    if (g.follows_calls()) g.note_block_end(b, uint32_t(address), size);
    if (covered) {
      b.lines = covered->lines.within(uint32_t(address), size);
      if (b.function < g.symbols.functions.size() &&
          g.symbols.functions[b.function].address == uint32_t(address))
        b.entry = int32_t(b.function);
    }
  }
  if (!r.options.max_instructions) r.instructions += b.instructions; // else the code hook counts
  g.own_instructions += b.instructions;
  if (g.follows_calls()) {
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
  if (r.scanning && &g == &r.first() && g.started < r.scan_before &&
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
    const runner::kept_input &k = r.history[r.cursor++];
    tsc = k.counter ? k.value : 0;
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
  if (r.keeps_history(g) && !past) r.keep(e);
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
  g.drop_written_code();
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
  if (silent) { // running again what was shown once
    if (!ended) uc_reg_write(g.uc, UC_X86_REG_EAX, &t.result);
    return;
  }
  bool kept = keeps_history(g);
  if (recorder || kept) {
    recorded_event e = event_of(g, t, served, ended);
    if (recorder) recorder->add(e);
    if (kept) keep(e);
  }
  ++result.trap_count;
  if (!g.profile.empty()) ++g.profile[g.function_at(t.eip - 2)].traps;
  if (trace)
    trace->record(t, g.memory, served, begin, options.trace ? seconds() - begin : 0,
                  sys.next_pid > 2 ? g.pid : 0);
  if (!ended) uc_reg_write(g.uc, UC_X86_REG_EAX, &t.result);
  if (ended && &g == &first()) result.exit_status = int32_t(t.ebx);
  if (options.record_traps) result.traps.push_back(std::move(t));
  if (kept && !ended) snapshots.maybe_take(g.uc, g.memory, g.started, cursor);
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
  g.drop_written_code();
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

} // namespace kivos::emu

namespace kivos {

using namespace emu;

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
    if (!x.follows_calls()) continue;
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
