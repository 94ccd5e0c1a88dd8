#include "trace.h"

#include "../../common/text.h"
#include "guest_memory.h"
#include "syscalls.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <kivos/syscalls.h>

namespace kivos {
namespace {

std::string open_flags(uint32_t f) {
  std::string s = (f & 3) == 0   ? "O_RDONLY"
                  : (f & 3) == 1 ? "O_WRONLY"
                  : (f & 3) == 2 ? "O_RDWR"
                                 : "3";
  if (f & 0x40) s += "|O_CREAT";
  if (f & 0x200) s += "|O_TRUNC";
  if (uint32_t rest = f & ~0x243u) s += "|" + tools::hex(rest);
  return s;
}

} // namespace

std::string trap_name(uint32_t number) {
  const syscall_row *t = find_syscall(number);
  return t ? t->name : "trap_" + std::to_string(number);
}

std::string quote(const std::string &bytes, size_t limit) {
  std::string s = "\"";
  size_t n = bytes.size() < limit ? bytes.size() : limit;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    switch (c) {
    case '\n':
      s += "\\n";
      break;
    case '\t':
      s += "\\t";
      break;
    case '\r':
      s += "\\r";
      break;
    case '"':
      s += "\\\"";
      break;
    case '\\':
      s += "\\\\";
      break;
    default:
      if (c >= 0x20 && c < 0x7f) {
        s += char(c);
      } else {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02x", c);
        s += buf;
      }
    }
  }
  s += '"';
  if (bytes.size() > limit) s += "...";
  return s;
}

std::string trace_line(const trap_record &t, const guest_memory &memory, bool served,
                       size_t string_limit) {
  const syscall_row *info = find_syscall(t.number);
  std::string line = trap_name(t.number) + "(";
  const uint32_t regs[3] = {t.ebx, t.ecx, t.edx};
  if (!info || !served) {
    // Nothing is known of its arguments: show all three registers.
    line += tools::hex(regs[0]) + ", " + tools::hex(regs[1]) + ", " + tools::hex(regs[2]);
  } else {
    for (int i = 0; i < 3 && info->args[i] != arg::none; ++i) {
      if (i) line += ", ";
      uint32_t v = regs[i];
      switch (info->args[i]) {
      case arg::none:
        break;
      case arg::integer:
        line += std::to_string(int32_t(v));
        break;
      case arg::descriptor:
        line += std::to_string(int32_t(v));
        if (!t.descriptors[i].empty()) line += "<" + t.descriptors[i] + ">";
        break;
      case arg::count:
      case arg::length:
        line += std::to_string(v);
        break;
      case arg::address:
        line += tools::hex(v);
        break;
      case arg::flags:
        line += open_flags(v);
        break;
      case arg::path: {
        guest_memory::string_error err;
        auto s = memory.read_string(v, 4096, err);
        line += s ? quote(*s, 256) : tools::hex(v);
        break;
      }
      case arg::buffer_in:
      case arg::buffer_out: {
        // The bytes, unless there were none to show because the call failed
        // (a read of nothing shows "").
        bool none = t.data.empty() && regs[i + 1] != 0 &&
                    !(info->args[i] == arg::buffer_out && t.result == 0);
        line += none ? tools::hex(v) : quote(t.data, string_limit);
        break;
      }
      }
    }
  }
  line += ") = ";
  if (t.number == KIVOS_SYS_EXIT) return line + "?";
  line += std::to_string(t.result);
  if (!served) return line + " (not served)";
  if (t.result < 0) {
    if (const char *name = strerrorname_np(-t.result)) line += std::string(" ") + name;
  }
  return t.injected ? line + " (injected)" : line;
}

std::vector<uint32_t> calls_named(const std::string &name) {
  std::vector<uint32_t> numbers;
  for (const syscall_row &row : syscall_table()) {
    std::string classes = std::string(",") + row.classes + ",";
    if (name == "all" || name == row.name || classes.find("," + name + ",") != std::string::npos)
      numbers.push_back(row.number);
  }
  return numbers;
}

void tracer::print(const std::string &line, double start, double seconds) {
  const trace_options &w = options.trace_with;
  std::string prefix, suffix;
  char buf[64];
  if (w.stamps == trace_options::absolute || w.stamps == trace_options::absolute_us ||
      w.stamps == trace_options::epoch) {
    // As strace's -t, -tt and -ttt: the time of day, with microseconds, or
    // seconds since the epoch.
    auto now = std::chrono::system_clock::now();
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    std::time_t secs = std::time_t(us / 1000000);
    std::tm tm;
    localtime_r(&secs, &tm);
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    std::string micro = "." + std::to_string(1000000 + us % 1000000).substr(1);
    prefix = w.stamps == trace_options::epoch         ? std::to_string(secs) + micro + " "
             : w.stamps == trace_options::absolute_us ? std::string(buf) + micro + " "
                                                      : std::string(buf) + " ";
  } else if (w.stamps == trace_options::relative) {
    std::snprintf(buf, sizeof buf, "%10.6f ", start - last_start);
    prefix = buf;
    last_start = start;
  }
  if (pid) prefix += "[pid " + std::to_string(pid) + "] ";
  if (w.durations) {
    std::snprintf(buf, sizeof buf, " <%.6f>", seconds);
    suffix = buf;
  }
  std::fprintf(options.trace, "%s%s%s\n", prefix.c_str(), line.c_str(), suffix.c_str());
}

void tracer::end_fold() {
  if (folded == 0) return;
  std::string line = folded_line;
  if (folded > 1) {
    // The whole run of bytes, as one write of them would show.
    line = "write(" + std::to_string(folded_fd) + ", " +
           quote(folded_bytes, options.trace_with.string_limit) + ", " +
           std::to_string(folded_bytes.size()) + ") = " + std::to_string(folded_bytes.size()) +
           " [" + std::to_string(folded) + " one-byte writes folded]";
  }
  pid = folded_pid;
  print(line, folded_start, folded_seconds);
  folded = 0;
  folded_bytes.clear();
}

void tracer::record(const trap_record &t, const guest_memory &memory, bool served, double start,
                    double seconds, int32_t caller) {
  const trace_options &w = options.trace_with;
  if (!w.only.empty() && std::find(w.only.begin(), w.only.end(), t.number) == w.only.end()) return;
  if (w.summary) {
    totals &row = summary[trap_name(t.number)];
    ++row.calls;
    row.errors += t.number != KIVOS_SYS_EXIT && t.result < 0;
    row.seconds += seconds;
    return;
  }
  bool one_byte = w.fold_writes && t.number == KIVOS_SYS_WRITE && t.edx == 1 && t.result == 1 &&
                  t.data.size() == 1;
  if (!one_byte || (folded && (t.ebx != folded_fd || caller != folded_pid))) end_fold();
  pid = caller;
  if (!one_byte) return print(trace_line(t, memory, served, w.string_limit), start, seconds);
  if (folded++ == 0) {
    folded_line = trace_line(t, memory, served, w.string_limit);
    folded_fd = t.ebx;
    folded_pid = caller;
    folded_start = start;
    folded_seconds = 0;
  }
  folded_bytes += t.data;
  folded_seconds += seconds;
}

void tracer::finish() {
  end_fold();
  if (!options.trace_with.summary) return;
  std::vector<std::pair<std::string, totals>> rows(summary.begin(), summary.end());
  std::stable_sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) {
    return a.second.seconds > b.second.seconds;
  });
  totals all;
  for (const auto &[name, row] : rows) {
    all.calls += row.calls;
    all.errors += row.errors;
    all.seconds += row.seconds;
  }
  std::FILE *out = options.trace;
  std::fprintf(out, "%% time     seconds  usecs/call     calls    errors syscall\n");
  std::fprintf(out, "------ ----------- ----------- --------- --------- ----------------\n");
  auto line = [&](const std::string &name, const totals &row) {
    std::fprintf(out, "%6.2f %11.6f %11.0f %9llu %9s %s\n",
                 all.seconds > 0 ? 100 * row.seconds / all.seconds : 0.0, row.seconds,
                 row.calls ? 1e6 * row.seconds / double(row.calls) : 0.0,
                 static_cast<unsigned long long>(row.calls),
                 row.errors ? std::to_string(row.errors).c_str() : "", name.c_str());
  };
  for (const auto &[name, row] : rows) line(name, row);
  std::fprintf(out, "------ ----------- ----------- --------- --------- ----------------\n");
  line("total", all);
}

} // namespace kivos
