#include "trace.h"

#include "../../common/text.h"
#include "guest_memory.h"
#include "syscalls.h"

#include <cstdio>
#include <cstring>
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

std::string trace_line(const trap_record &t, const guest_memory &memory, bool served) {
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
      case arg::descriptor:
      case arg::length:
        line += std::to_string(int32_t(v));
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
      case arg::buffer_out:
        // The bytes, unless there were none to show because the call failed.
        line += t.data.empty() && regs[i + 1] != 0 ? tools::hex(v) : quote(t.data);
        break;
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
  return line;
}

} // namespace kivos
