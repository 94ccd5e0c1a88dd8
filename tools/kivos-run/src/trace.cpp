#include "trace.h"

#include "guest_memory.h"

#include <array>
#include <cstdio>
#include <kivos/syscalls.h>

namespace kivos {
namespace {

enum class arg { none, dec, hex, path, data, received, open_flags };

struct trap_info {
  uint32_t number;
  const char *name;
  std::array<arg, 3> args;
};

constexpr trap_info traps[] = {
    {KIVOS_SYS_WRITE, "write", {arg::dec, arg::data, arg::dec}},
    {KIVOS_SYS_EXIT, "_exit", {arg::dec}},
    {KIVOS_SYS_READ, "read", {arg::dec, arg::received, arg::dec}},
    {KIVOS_SYS_OPEN, "open", {arg::path, arg::open_flags, arg::hex}},
    {KIVOS_SYS_CLOSE, "close", {arg::dec}},
    {KIVOS_SYS_GETKEY, "getkey", {}},
    {KIVOS_SYS_WRITEFILE, "writefile", {arg::path, arg::data, arg::dec}},
    {KIVOS_SYS_USLEEP, "usleep", {arg::dec}},
    {KIVOS_SYS_MKDIR, "mkdir", {arg::path}},
    {KIVOS_SYS_UNLINK, "unlink", {arg::path}},
    {KIVOS_SYS_RMDIR, "rmdir", {arg::path}},
    {KIVOS_SYS_GETCWD, "getcwd", {arg::hex, arg::dec}},
    {KIVOS_SYS_STREAM_BEGIN, "kivfs_stream_begin", {arg::path}},
    {KIVOS_SYS_STREAM_WRITE, "kivfs_stream_write", {arg::dec, arg::data, arg::dec}},
    {KIVOS_SYS_STREAM_END, "kivfs_stream_end", {arg::dec}},
    {KIVOS_SYS_DRIVE_CURRENT, "drive_current", {}},
    {KIVOS_SYS_DRIVE_COUNT, "drive_count", {}},
    {KIVOS_SYS_DRIVE_PROBE, "drive_probe", {arg::dec}},
    {KIVOS_SYS_CHDIR, "chdir", {arg::path}},
    {KIVOS_SYS_LSEEK, "lseek", {arg::dec, arg::dec, arg::dec}},
    {KIVOS_SYS_PIPE, "pipe", {arg::hex}},
    {KIVOS_SYS_MKFIFO, "mkfifo", {arg::path}},
    {KIVOS_SYS_DUP, "dup", {arg::dec}},
    {KIVOS_SYS_DUP2, "dup2", {arg::dec, arg::dec}},
    {KIVOS_SYS_FD_SET_INHERIT, "fd_set_inherit", {arg::dec}},
    {KIVOS_SYS_FD_SET_STDIO, "fd_set_stdio", {arg::dec, arg::dec, arg::dec}},
    {KIVOS_SYS_FD_SET_NONBLOCK, "fd_set_nonblock", {arg::dec, arg::dec}},
    {KIVOS_SYS_SPAWN, "spawn", {arg::path, arg::hex, arg::dec}},
    {KIVOS_SYS_WAITPID, "waitpid", {arg::dec, arg::hex, arg::dec}},
};

const trap_info *lookup(uint32_t number) {
  for (const trap_info &t : traps) {
    if (t.number == number) return &t;
  }
  return nullptr;
}

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

std::string open_flags(uint32_t f) {
  std::string s = (f & 3) == 0   ? "O_RDONLY"
                  : (f & 3) == 1 ? "O_WRONLY"
                  : (f & 3) == 2 ? "O_RDWR"
                                 : "3";
  if (f & 0x40) s += "|O_CREAT";
  if (f & 0x200) s += "|O_TRUNC";
  if (uint32_t rest = f & ~0x243u) s += "|" + hex(rest);
  return s;
}

const char *error_name(int32_t r) {
  switch (-r) {
  case 1:
    return "EPERM";
  case 2:
    return "ENOENT";
  case 5:
    return "EIO";
  case 9:
    return "EBADF";
  case 12:
    return "ENOMEM";
  case 13:
    return "EACCES";
  case 14:
    return "EFAULT";
  case 17:
    return "EEXIST";
  case 20:
    return "ENOTDIR";
  case 21:
    return "EISDIR";
  case 22:
    return "EINVAL";
  case 24:
    return "EMFILE";
  case 28:
    return "ENOSPC";
  case 34:
    return "ERANGE";
  case 36:
    return "ENAMETOOLONG";
  case 38:
    return "ENOSYS";
  case 39:
    return "ENOTEMPTY";
  case 40:
    return "ELOOP";
  case 75:
    return "EOVERFLOW";
  case 18:
    return "EXDEV";
  default:
    return nullptr;
  }
}

} // namespace

std::string trap_name(uint32_t number) {
  const trap_info *t = lookup(number);
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
  const trap_info *info = lookup(t.number);
  std::string line = trap_name(t.number) + "(";
  const uint32_t regs[3] = {t.ebx, t.ecx, t.edx};
  if (!info || !served) {
    // Nothing is known of its arguments: show all three registers.
    line += hex(regs[0]) + ", " + hex(regs[1]) + ", " + hex(regs[2]);
  } else {
    for (int i = 0; i < 3 && info->args[i] != arg::none; ++i) {
      if (i) line += ", ";
      uint32_t v = regs[i];
      switch (info->args[i]) {
      case arg::none:
        break;
      case arg::dec:
        line += std::to_string(int32_t(v));
        break;
      case arg::hex:
        line += hex(v);
        break;
      case arg::open_flags:
        line += open_flags(v);
        break;
      case arg::path: {
        guest_memory::string_error err;
        auto s = memory.read_string(v, 4096, err);
        line += s ? quote(*s, 256) : hex(v);
        break;
      }
      case arg::data:
      case arg::received:
        // The bytes, unless there were none to show because the call failed.
        line += t.data.empty() && regs[2] != 0 ? hex(v) : quote(t.data);
        break;
      }
    }
  }
  line += ") = ";
  if (t.number == KIVOS_SYS_EXIT) return line + "?";
  line += std::to_string(t.result);
  if (!served) return line + " (not served)";
  if (t.result < 0) {
    if (const char *name = error_name(t.result)) line += std::string(" ") + name;
  }
  return line;
}

} // namespace kivos
