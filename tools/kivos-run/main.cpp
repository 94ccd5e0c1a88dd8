// kivos-run: runs a kivos program on this machine.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <kivos/run.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>
#include <version.h>

#include "../common/text.h"
#include "src/call_stacks.h"

namespace {

// A signal that ended the run: kivos-run ends by it too, once all is said.
int ended_by = 0;

const char usage[] =
    "Usage: kivos-run [OPTIONS] PROGRAM [ARGS...]\n"
    "\n"
    "Runs the kivos executable PROGRAM in an emulated 32-bit x86 processor, with\n"
    "ARGS as its arguments, and serves its system calls. Its console output goes\n"
    "to standard output and its console input comes from standard input. The exit\n"
    "status is the program's own, or 124 when a limit or a deadlock ended it, 125\n"
    "when it could not be run or its output could not be written, 126 when it\n"
    "faulted. PROGRAM\n"
    "must be a regular file of at most 1 GiB and 1 MiB with at most 256 loadable\n"
    "segments, built for kivos (not for another system). PROGRAM may start others\n"
    "from the root folder (spawn); the run ends when PROGRAM ends.\n"
    "\n"
    "Options (they come before PROGRAM; everything after it goes to the program):\n"
    "  --root DIR            the folder that holds the program's files (default: the\n"
    "                        current folder); no path leads outside it\n"
    "  --drives N            the number of logical drives the kernel reports\n"
    "                        (default 4); a negative N, or 'fail', makes the query fail\n"
    "  --current I           the index of the current drive (default 1)\n"
    "  --probe I=R           the probe result of drive I: negative for an error, 0 for\n"
    "                        no drive, positive for a drive (default: drive 2 absent,\n"
    "                        all others present); may be repeated\n"
    "  --trace               print one line per system call on standard error, in\n"
    "                        the style of strace; the options below imply it:\n"
    "  -e trace=CALL,...     only these calls, by name (write, open, ...) or class\n"
    "                        (console, file, desc, process, drive, stream, all);\n"
    "                        -e trace=!CALL,... all but these\n"
    "  -e inject=CALL,...:retval=N[:when=K], or :error=NAME (ENOENT, ...)\n"
    "                        do not serve these calls (any but _exit): each\n"
    "                        returns N, or -NAME (only the K-th of them, with\n"
    "                        when), to try a program's error paths; repeatable\n"
    "  -s N                  show at most N bytes of each buffer (default 32)\n"
    "  -o FILE               write the trace to FILE\n"
    "  -t, -tt, -ttt, -r     each line starts with the time of day (-tt: with\n"
    "                        microseconds, -ttt: seconds since 1970), or with the\n"
    "                        seconds since the line before\n"
    "  -f                    accepted: children are always traced\n"
    "  -y                    show what descriptors refer to: 3</notes.txt>\n"
    "  -T                    each line ends with the time spent in the call\n"
    "  -c                    no lines: a table of calls, errors and time at the end\n"
    "  --fold-writes         one line for each run of one-byte writes to the same\n"
    "                        descriptor (the unbuffered runtime writes a byte per\n"
    "                        call), saying how many calls it folded\n"
    "  --timeout SECONDS     end the program after this much time, whatever it is\n"
    "                        doing (waiting for input included)\n"
    "  --max-instructions N  end the program after N instructions (slows it down)\n"
    "  --no-sleep            let usleep and sleep return at once\n"
    "  --no-store-shortcut   send every guest store down Unicorn 2.0.1's slow path,\n"
    "                        page locks and all, as it does on its own: a tenth of\n"
    "                        the speed of store-heavy programs (the shortcuts skip\n"
    "                        it only for pages that cannot hold code, and skip\n"
    "                        locks the library has compiled out)\n"
    "  --stats               print the number of system calls, instructions and the\n"
    "                        run time on standard error at the end\n"
    "  --stats=stores        the same, and the number of guest stores (counting them\n"
    "                        slows emulation down)\n"
    "  -g, --gdb PORT        stop before the first instruction and wait for gdb on\n"
    "                        localhost:PORT (0: any free port, said on standard\n"
    "                        error), then: gdb NAME.elf -ex 'target remote :PORT'.\n"
    "                        Registers, memory, breakpoints, watchpoints on writes,\n"
    "                        stepping and Ctrl-C work, backwards too (reverse-stepi,\n"
    "                        reverse-continue; with several processes, in a\n"
    "                        replay); there is no time limit\n"
    "  --snapshot-memory MIB memory for the snapshots that going backwards under\n"
    "                        gdb starts from (default 256)\n"
    "  --profile             print, at the end, the instructions, calls and system\n"
    "                        calls of each function of PROGRAM's symbol table,\n"
    "                        hottest first (use the unstripped NAME.elf)\n"
    "  --profile=folded:FILE write the instructions run under each call stack, one\n"
    "                        line a stack (frames root first, joined by ';'), as\n"
    "                        flame-graph tools read them; every process's stacks\n"
    "                        start with a frame that names it\n"
    "  --profile=svg:FILE    draw those stacks as a flame graph a browser shows\n"
    "  --coverage FILE       write an lcov tracefile of the lines PROGRAM ran (built\n"
    "                        with -g), as genhtml reads it: how often execution\n"
    "                        entered each line and each function\n"
    "  --record FILE         write to FILE everything the run receives from outside\n"
    "                        (call results and the bytes they bring, counter\n"
    "                        reads, programs started), to replay it anywhere\n"
    "  --replay FILE         run PROGRAM again from the recording FILE alone: the\n"
    "                        same output, trace and status, reading no file, no\n"
    "                        input and no counter, writing no file (writes are\n"
    "                        checked against the recording); the arguments come\n"
    "                        from the recording\n"
    "  --stack-size BYTES    size of the program's stack (default 1048576)\n"
    "  --tsc N               fix the time-stamp counter for reproducible runs: the\n"
    "                        program's first rdtsc reads N, each further one a step\n"
    "                        more (by default it reads the host's counter, which\n"
    "                        differs from run to run); every rdtsc the program runs\n"
    "                        reads it, in code it wrote itself too\n"
    "  --help                print this help\n"
    "  --version             print the version\n"
    "\n"
    "Example: kivos-run --drives 3 --current 0 --probe 1=0 build/kivos/hdtab\n";

[[noreturn]] void fail(const std::string &message) {
  std::fprintf(stderr, "kivos-run: %s\nTry 'kivos-run --help'.\n", message.c_str());
  std::exit(kivos::exit_tool_error);
}

bool parse_int(const char *s, long long lo, long long hi, long long &out) {
  if (!*s) return false;
  errno = 0;
  char *end;
  long long v = std::strtoll(s, &end, 0);
  if (*end || errno || v < lo || v > hi) return false;
  out = v;
  return true;
}

// A positive, finite number of seconds; a limit beyond ten years is as good
// as none and is held there, so that no clock arithmetic overflows.
bool parse_seconds(const char *s, double &out) {
  char *end;
  errno = 0;
  out = std::strtod(s, &end);
  if (!*s || *end || !(out > 0) || !std::isfinite(out)) return false;
  out = std::min(out, 10 * 365.25 * 86400);
  return true;
}

// The calls named in NAMES ("write,open" or a class such as "file"), or
// all but those with a leading '!'.
std::vector<uint32_t> calls_in(const std::string &names) {
  if (!names.empty() && names[0] == '!') {
    std::vector<uint32_t> but = calls_in(names.substr(1)), all = kivos::calls_named("all");
    std::erase_if(all, [&](uint32_t n) { return std::count(but.begin(), but.end(), n) > 0; });
    return all;
  }
  std::vector<uint32_t> all;
  for (size_t at = 0; at <= names.size();) {
    size_t comma = std::min(names.find(',', at), names.size());
    std::string name = names.substr(at, comma - at);
    std::vector<uint32_t> calls = kivos::calls_named(name);
    if (calls.empty()) fail("-e: no call or class named '" + name + "'");
    all.insert(all.end(), calls.begin(), calls.end());
    at = comma + 1;
  }
  return all;
}

// The error number called NAME (ENOENT, ...), or a number as it is; 0 for none.
long long errno_named(const std::string &name) {
  long long n;
  if (parse_int(name.c_str(), 1, 4095, n)) return n;
  for (int e = 1; e < 4096; ++e)
    if (const char *known = strerrorname_np(e); known && name == known) return e;
  return 0;
}

// A forced result: -e inject=CALL,...:retval=N[:when=K].
struct injection {
  std::vector<uint32_t> calls;
  int32_t result;
  long long when = 0; // 0: every call; else only the K-th
  long long seen = 0;
};

injection parse_injection(const std::string &v) {
  injection in;
  size_t colon = std::min(v.find(':'), v.size());
  std::string names = v.substr(0, colon);
  if (("," + names + ",").find(",_exit,") != std::string::npos)
    fail("-e inject: _exit cannot be injected, it always ends the program");
  in.calls = calls_in(names);
  // A class that holds _exit injects its other calls.
  std::erase(in.calls, kivos::calls_named("_exit").at(0));
  if (in.calls.empty()) fail("-e inject: '" + names + "' names no call but _exit");
  long long n;
  bool has_result = false;
  for (size_t at = colon + 1; at <= v.size() && colon < v.size();) {
    size_t end = std::min(v.find(':', at), v.size());
    std::string field = v.substr(at, end - at);
    if (field.rfind("retval=", 0) == 0 && parse_int(field.c_str() + 7, INT32_MIN, INT32_MAX, n))
      in.result = int32_t(n), has_result = true;
    else if (field.rfind("error=", 0) == 0 && (n = errno_named(field.substr(6))) > 0)
      in.result = -int32_t(n), has_result = true;
    else if (field.rfind("when=", 0) == 0 && parse_int(field.c_str() + 5, 1, INT64_MAX, n))
      in.when = n;
    else
      fail("-e inject: '" + field + "' is none of retval=N, error=NAME (ENOENT, ...), when=K");
    at = end + 1;
  }
  if (!has_result) fail("-e inject wants CALL,...:retval=N|error=NAME[:when=K], not '" + v + "'");
  return in;
}

void print_profile(const kivos::run_result &r, const std::string &program) {
  if (r.profile.empty()) {
    std::fprintf(stderr,
                 "kivos-run: no profile: %s has no symbol table; profile it as built, before "
                 "it is stripped (kivos_executable() keeps that as NAME.elf)\n",
                 program.c_str());
    return;
  }
  std::fprintf(stderr, "kivos-run: profile of %llu instructions and %llu system calls\n",
               static_cast<unsigned long long>(r.instructions),
               static_cast<unsigned long long>(r.trap_count));
  std::fprintf(stderr, "%8s %14s %10s %12s  %s\n", "share", "instructions", "calls", "system calls",
               "function");
  for (const kivos::profile_entry &p : r.profile)
    std::fprintf(stderr, "%7.2f%% %14llu %10llu %12llu  %s\n",
                 r.instructions ? 100.0 * double(p.instructions) / double(r.instructions) : 0.0,
                 static_cast<unsigned long long>(p.instructions),
                 static_cast<unsigned long long>(p.calls), static_cast<unsigned long long>(p.traps),
                 p.function.c_str());
}

// Opens FILE for writing, emptying it, or says why not (null, with `err`).
// A FIFO waits for its reader, but no longer than the time limit.
std::FILE *open_output(const std::string &path, double timeout, std::string &err) {
  auto give_up = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
  for (;;) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd >= 0 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
      if (std::FILE *f = fdopen(fd, "w")) return f;
    if (fd >= 0 || errno != ENXIO) {
      err = std::strerror(errno);
      return nullptr;
    }
    if (timeout > 0 && std::chrono::steady_clock::now() >= give_up) {
      std::fprintf(stderr, "kivos-run: -o %s: time limit reached while waiting for a reader\n",
                   path.c_str());
      std::exit(kivos::exit_timeout);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int run(int argc, char **argv) {
  kivos::run_options o;
  std::FILE *trace_file = nullptr;
  std::string trace_path, coverage_path, folded_path, svg_path;
  bool stats = false;
  std::vector<injection> injections;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1]; ++i) {
    std::string opt = argv[i];
    if (opt == "--") {
      ++i;
      break;
    }
    std::string value;
    bool inline_value = false;
    if (size_t eq = opt.find('='); opt.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = opt.substr(eq + 1);
      opt.resize(eq);
      inline_value = true;
    }
    auto next = [&]() -> std::string {
      if (inline_value) return value;
      if (i + 1 >= argc) fail("option " + opt + " needs a value");
      return argv[++i];
    };
    long long n;
    if (opt == "--help" || opt == "-h") {
      std::fputs(usage, stdout);
      return 0;
    } else if (opt == "--version") {
      std::puts("kivos-run " KIVOS_VERSION);
      return 0;
    } else if (opt == "--root") {
      o.root = next();
    } else if (opt == "--drives") {
      std::string v = next();
      if (v == "fail")
        o.drives.count = -1;
      else if (parse_int(v.c_str(), INT32_MIN, INT32_MAX, n))
        o.drives.count = int32_t(n);
      else
        fail("--drives wants a whole number or 'fail', not '" + v + "'");
    } else if (opt == "--current") {
      std::string v = next();
      if (!parse_int(v.c_str(), INT32_MIN, INT32_MAX, n))
        fail("--current wants a whole number, not '" + v + "'");
      o.drives.current = int32_t(n);
    } else if (opt == "--probe") {
      std::string v = next();
      size_t eq = v.find('=');
      long long index, r;
      if (eq == std::string::npos || !parse_int(v.substr(0, eq).c_str(), 0, 1 << 24, index) ||
          !parse_int(v.substr(eq + 1).c_str(), INT32_MIN, INT32_MAX, r))
        fail("--probe wants INDEX=RESULT, such as 2=0, not '" + v + "'");
      if (o.drives.probes.size() <= size_t(index)) o.drives.probes.resize(size_t(index) + 1, 1);
      o.drives.probes[size_t(index)] = int32_t(r);
    } else if (opt == "--trace") {
      if (!o.trace) o.trace = stderr;
    } else if (opt == "-e") {
      std::string v = next();
      if (v.rfind("inject=", 0) == 0) {
        injections.push_back(parse_injection(v.substr(7)));
        continue;
      }
      if (v.rfind("trace=", 0) != 0)
        fail("-e wants trace=CALL,... or inject=CALL,...:retval=N, not '" + v + "'");
      std::vector<uint32_t> calls = calls_in(v.substr(6));
      o.trace_with.only.insert(o.trace_with.only.end(), calls.begin(), calls.end());
      if (!o.trace) o.trace = stderr;
    } else if (opt == "-s") {
      std::string v = next();
      if (!parse_int(v.c_str(), 0, 1 << 30, n)) fail("-s wants a number of bytes, not '" + v + "'");
      o.trace_with.string_limit = size_t(n);
    } else if (opt == "-o") {
      trace_path = next();
    } else if (opt == "--coverage") {
      coverage_path = next();
    } else if (opt == "-y") {
      o.trace_with.paths = true;
      if (!o.trace) o.trace = stderr;
    } else if (opt == "-f") {
      // strace's habit: children are always traced here.
    } else if (opt == "-t" || opt == "-tt" || opt == "-ttt" || opt == "-r" || opt == "-T" ||
               opt == "-c" || opt == "--fold-writes") {
      kivos::trace_options &w = o.trace_with;
      using k = kivos::trace_options;
      if (opt[1] == 't') // each -t says more, as strace's do
        w.stamps = opt == "-ttt" || w.stamps == k::absolute_us ? k::epoch
                   : opt == "-tt" || w.stamps == k::absolute   ? k::absolute_us
                                                               : k::absolute;
      if (opt == "-r") w.stamps = kivos::trace_options::relative;
      w.durations |= opt == "-T";
      w.summary |= opt == "-c";
      w.fold_writes |= opt == "--fold-writes";
      if (!o.trace) o.trace = stderr;
    } else if (opt == "--timeout") {
      std::string v = next();
      if (!parse_seconds(v.c_str(), o.timeout_seconds))
        fail("--timeout wants a positive number of seconds, not '" + v + "'");
    } else if (opt == "--max-instructions") {
      std::string v = next();
      if (!parse_int(v.c_str(), 1, INT64_MAX, n))
        fail("--max-instructions wants a positive number, not '" + v + "'");
      o.max_instructions = uint64_t(n);
    } else if (opt == "--gdb" || opt == "-g") {
      std::string v = next();
      if (!parse_int(v.c_str(), 0, 65535, n)) fail(opt + " wants a port number, not '" + v + "'");
      o.gdb_port = uint16_t(n);
    } else if (opt == "--profile" && !inline_value) {
      o.profile = true;
    } else if (opt == "--profile") {
      if (value.rfind("folded:", 0) == 0 && value.size() > 7)
        folded_path = value.substr(7);
      else if (value.rfind("svg:", 0) == 0 && value.size() > 4)
        svg_path = value.substr(4);
      else
        fail("--profile= wants folded:FILE or svg:FILE, not '" + value + "'");
      o.stacks = true;
    } else if (opt == "--stats") {
      o.count_instructions = stats = true;
      if (inline_value && value != "stores") fail("--stats takes no value but 'stores'");
      o.count_stores = inline_value;
    } else if (opt == "--no-sleep") {
      o.real_sleep = false;
    } else if (opt == "--no-store-shortcut") {
      o.store_shortcut = false;
    } else if (opt == "--record") {
      o.record = next();
    } else if (opt == "--replay") {
      o.replay = next();
    } else if (opt == "--snapshot-memory") {
      std::string v = next();
      if (!parse_int(v.c_str(), 1, 1 << 20, n))
        fail("--snapshot-memory wants a number of MiB from 1, not '" + v + "'");
      o.snapshot_memory = uint64_t(n) << 20;
    } else if (opt == "--stack-size") {
      std::string v = next();
      if (!parse_int(v.c_str(), 0, 1ll << 30, n))
        fail("--stack-size wants a number of bytes, not '" + v + "'");
      o.stack_size = uint32_t(n);
    } else if (opt == "--tsc") {
      std::string v = next();
      errno = 0;
      char *end;
      unsigned long long t = std::strtoull(v.c_str(), &end, 0);
      if (v.empty() || *end || errno || v[0] == '-')
        fail("--tsc wants a whole number, not '" + v + "'");
      o.fixed_tsc = t;
    } else {
      fail("unknown option " + opt);
    }
    if (inline_value && (opt == "--trace" || opt == "--no-sleep" || opt == "--no-store-shortcut"))
      fail("option " + opt + " takes no value");
  }
  if (i >= argc) fail("no program given");
  if (!injections.empty())
    o.override_result = [&injections](const kivos::trap_record &t) -> std::optional<int32_t> {
      // Each rule counts every call of its names, whichever rule forces it.
      std::optional<int32_t> forced;
      for (injection &in : injections) {
        if (!std::count(in.calls.begin(), in.calls.end(), t.number)) continue;
        ++in.seen;
        if (!forced && (!in.when || in.seen == in.when)) forced = in.result;
      }
      return forced;
    };
  o.program = argv[i];
  for (; i < argc; ++i) o.args.push_back(argv[i]);
  if (!o.replay.empty() && o.args.size() > 1)
    fail("--replay takes the program alone: its arguments come from the recording");
  if (!o.replay.empty() && !o.record.empty()) fail("--record and --replay go one at a time");

  o.end_on_signals = true; // the tables and reports come out all the same
  auto start = std::chrono::steady_clock::now();
  o.coverage = !coverage_path.empty();
  if (!trace_path.empty()) {
    std::string err;
    trace_file = open_output(trace_path, o.timeout_seconds, err);
    if (!trace_file) fail("-o: " + trace_path + ": " + err);
    o.trace = trace_file;
    if (o.timeout_seconds > 0) { // the wait for a reader counts against the limit
      o.timeout_seconds -=
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      o.timeout_seconds = std::max(o.timeout_seconds, 1e-6);
    }
  }
  kivos::run_result r = kivos::run(o);
  if (stats)
    std::fprintf(stderr, "kivos-run: %llu system calls, %llu instructions%s, %.3f s\n",
                 static_cast<unsigned long long>(r.trap_count),
                 static_cast<unsigned long long>(r.instructions),
                 o.count_stores ? (", " + std::to_string(r.stores) + " stores").c_str() : "",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  if (r.end != kivos::run_end::exited)
    std::fprintf(stderr, "kivos-run: %s: %s\n", o.program.c_str(), r.message.c_str());
  int status = kivos::exit_code(r);
  if (trace_file) {
    if (std::string err = tools::output_error(trace_file, true); !err.empty()) {
      std::fprintf(stderr, "kivos-run: -o %s: %s; the trace was lost\n", trace_path.c_str(),
                   err.c_str());
      status = kivos::exit_tool_error;
    }
  }
  // Written once the run is over, so a refused run leaves no file.
  auto write = [&](const std::string &path, const std::string &text, const char *option) {
    std::string err;
    std::FILE *f = open_output(path, 0, err);
    if (f) {
      std::fputs(text.c_str(), f);
      err = tools::output_error(f, true);
    }
    if (!err.empty()) {
      std::fprintf(stderr, "kivos-run: %s%s: %s\n", option, path.c_str(), err.c_str());
      status = kivos::exit_tool_error;
    }
  };
  if (!r.coverage.empty()) write(coverage_path, r.coverage, "--coverage ");
  if (r.end != kivos::run_end::load_error) {
    if (!folded_path.empty())
      write(folded_path, kivos::folded_stacks(r.stacks), "--profile=folded:");
    if (!svg_path.empty())
      write(svg_path,
            kivos::flame_graph(r.stacks, "Flame graph of " + o.program + ", by instructions"),
            "--profile=svg:");
  }
  if (o.profile) print_profile(r, o.program);
  if (!r.record_error.empty()) {
    std::fprintf(stderr, "kivos-run: --record %s: %s\n", o.record.c_str(), r.record_error.c_str());
    status = kivos::exit_tool_error;
  }
  if (!r.output_error.empty())
    std::fprintf(stderr, "kivos-run: standard output: %s; the program's output was lost\n",
                 r.output_error.c_str());
  if (r.end == kivos::run_end::signal) ended_by = r.signal;
  return status;
}

} // namespace

int main(int argc, char **argv) {
  try {
    int status = run(argc, argv);
    // Help, tables and reports that did not arrive fail the run too (where
    // standard error itself fails, the status alone can say so).
    if (std::string err = tools::output_error(stdout); !err.empty()) {
      std::fprintf(stderr, "kivos-run: standard output: %s\n", err.c_str());
      return kivos::exit_tool_error;
    }
    if (!tools::output_error(stderr).empty()) return kivos::exit_tool_error;
    if (ended_by) {
      std::signal(ended_by, SIG_DFL);
      std::raise(ended_by);
    }
    return status;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "kivos-run: %s\n", e.what());
    return kivos::exit_tool_error;
  }
}
