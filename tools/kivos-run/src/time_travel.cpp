// Recording, replaying and going backwards: what a run receives from
// outside is kept (in a recording, in the history a gdb session goes back
// through) and handed back in its order in place of the outside.
#include "emulator.h"

namespace kivos::emu {

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
  const kept_input &k = history[cursor++];
  for (uint32_t i = k.first_write; i < k.first_write + k.writes; ++i)
    g.memory.write(kept_writes[i].first, kept_writes[i].second.data(),
                   uint32_t(kept_writes[i].second.size()));
  g.drop_written_code();
  if (!k.counter && k.number == t.number && !k.ended) uc_reg_write(g.uc, UC_X86_REG_EAX, &k.result);
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
  running = &f; // for a Ctrl-C
  while (f.started < position && !interrupted) {
    uint64_t before = f.started;
    f.emulate(f.eip(), size_t(position - f.started));
    if (f.started == before) break; // it cannot get further (a fault)
  }
  running = nullptr;
  link->quiet = false;
  return true;
}

// With several processes, going back replays the recording again from its
// start, every process from scratch, quietly, until the first process has
// run `position` instructions.
bool runner::replay_to(guest &f, uint64_t position) {
  for (size_t i = sys.processes.size(); i-- > 1;) {
    guest &g = at(i);
    if (g.e) release(g);
    sys.processes.erase(sys.processes.begin() + std::ptrdiff_t(i));
  }
  sys.next_pid = 2;
  if (!snapshot_store::restore(f.uc, f.memory, snapshots.all.front())) return false;
  f.started = 0;
  f.last_started = UINT64_MAX;
  f.faulted = false;
  replayer->rewind();
  replayed = 0;
  silent = link->quiet = true;
  std::string err;
  while (count(f) < position && diverged.empty() && !f.faulted && !f.ended && !interrupted) {
    const recorded_event *e = replayer->peek(err);
    guest *g = !e || e->kind == recorded_event::finish ? &f : find(e->pid);
    if (!g) break;
    uint64_t before = count(f);
    run_guest(*g, g == &f ? size_t(position - count(f)) : 0);
    if (g == &f && count(f) == before && (!e || e->pid != f.pid)) break; // no way on
  }
  silent = link->quiet = false;
  return diverged.empty();
}

// gdb's reverse-stepi and reverse-continue.
guest_stop runner::reverse(bool step, const stop_points &points) {
  guest &f = first();
  if (f.pending || f.ended || snapshots.all.empty() || (many && !replayer))
    return {guest_stop::unsupported};
  f.faulted = false;
  interrupted = false;
  uint64_t now = f.started;
  if (now == 0) return {guest_stop::history_begin};
  auto travel = [&](uint64_t position, const snapshot *from) {
    return many ? replay_to(f, position) : go_to(f, position, from);
  };
  if (step) return travel(now - 1, nullptr) ? guest_stop{} : guest_stop{guest_stop::unsupported};
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
    const snapshot &s = many ? snapshots.all.front() : snapshots.before(limit - 1);
    uint64_t start = s.position;
    found_at.reset();
    found_watch.reset();
    scanning = true;
    scan_before = limit;
    bool went = travel(limit, &s);
    scanning = false;
    if (!went) {
      if (watch_hook) uc_hook_del(f.uc, watch_hook);
      return {guest_stop::unsupported};
    }
    if (found_at || interrupted) break; // the last stop between the snapshot and the limit
    limit = start;
  }
  if (watch_hook) uc_hook_del(f.uc, watch_hook);
  if (interrupted) return {}; // gdb hears of the Ctrl-C, where the search had got
  if (!found_at) {
    travel(0, nullptr);
    return {guest_stop::history_begin};
  }
  std::optional<uint32_t> watched = found_watch;
  travel(*found_at, nullptr);
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
  // After going back, a call whose output and trace line were shown before
  // shows nothing again.
  bool again = ++replayed <= shown;
  shown = std::max(shown, replayed);
  bool was_silent = std::exchange(silent, silent || again);
  double begin = options.trace ? seconds() : 0;
  sys.capture_in(g, t);
  if (e.flags & recorded_event::to_file && hash_written(g, t) != e.file_hash)
    return diverge(g, call() + ", writing other bytes than the recording's");
  if (e.flags & recorded_event::console && !silent)
    sys.console_write(g, t.ecx, uint32_t(std::max(e.result, 0)));
  if (keeps_history(g)) g.memory.journal = &g.journal;
  for (const auto &[address, bytes] : e.writes)
    g.memory.write(address, bytes.data(), uint32_t(bytes.size()));
  g.drop_written_code();
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
  silent = was_silent;
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

} // namespace kivos::emu
