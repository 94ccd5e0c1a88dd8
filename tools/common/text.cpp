#include "text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace tools {

std::string hex8(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", v);
  return buf;
}

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

bool write_all(int fd, const char *p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
  }
  return true;
}

std::string output_error(std::FILE *f, bool close) {
  errno = 0;
  bool ok = std::fflush(f) == 0 && !std::ferror(f);
  int err = errno;
  if (close && std::fclose(f) != 0 && ok) ok = false, err = errno;
  return ok ? std::string() : std::strerror(err ? err : EIO);
}

} // namespace tools
