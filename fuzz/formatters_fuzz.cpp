// Both formatters on arbitrary formats. Every argument word points at a
// valid string, so any conversion may take it; checked: no memory error, the
// buffer formatter's result and NUL, and the stream formatter's count
// against the bytes its memory stream collected.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

struct kivos_file;
extern "C" {
int kivos_snprintf(char *buf, size_t size, const char *format, ...);
kivos_file *kivos_open_memstream(char **ptr, size_t *sizeloc);
int kivos_fprintf(kivos_file *stream, const char *format, ...);
}

namespace {

const char text[] = "ab\tc";

#define ARGS text, text, text, text, text, text, text, text, text, text, text, text

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 256) return 0;
  size_t bound = data[0] % 64;
  std::string format(reinterpret_cast<const char *>(data + 1), size - 1);
  // Widths and precisions of more than a few digits only make slow runs,
  // and no conversion may take more arguments than there are: without '*',
  // each '%' takes at most one.
  for (size_t i = 0, digits = 0, conversions = 0; i < format.size(); ++i) {
    digits = format[i] >= '0' && format[i] <= '9' ? digits + 1 : 0;
    if (digits > 3) format[i] = 'd';
    if (format[i] == '*') format[i] = 'x';
    if (format[i] == '%' && ++conversions > 12) format[i] = 'q';
  }
  char buf[64];
  int measured = kivos_snprintf(nullptr, 0, format.c_str(), ARGS);
  int stored = kivos_snprintf(buf, bound, format.c_str(), ARGS);
  if (measured != stored || measured < 0) __builtin_trap();
  if (bound && buf[size_t(stored) < bound - 1 ? stored : bound - 1] != 0) __builtin_trap();

  char *out = nullptr;
  size_t len = 0;
  kivos_file *f = kivos_open_memstream(&out, &len);
  if (!f) return 0; // the heap of this process is used up
  int n = kivos_fprintf(f, format.c_str(), ARGS);
  if (n >= 0 && size_t(n) != len) __builtin_trap();
  return 0;
}
