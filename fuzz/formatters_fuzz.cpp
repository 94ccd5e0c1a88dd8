// Both formatters on any format, every argument a valid string: no memory
// error, the buffer formatter's result and NUL, the stream formatter's count
// against its memory stream. Odd first bytes: a format of pieces the buffer
// formatter reads as the stream formatter (second bit set) or the host's
// snprintf does, whose texts must agree.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

struct kivos_file;
extern "C" {
int kivos_snprintf(char *buf, size_t size, const char *format, ...);
kivos_file *kivos_open_memstream(char **ptr, size_t *sizeloc);
int kivos_fprintf(kivos_file *stream, const char *format, ...);
extern uint32_t kivos_g_heap_used; // the bump heap's mark
}

namespace {

const char text[] = "ab\tc";
constexpr size_t max_args = 12;

// Names the format of a failed check, for whoever replays the input.
void expect(bool ok, const std::string &format) {
  if (ok) return;
  std::fprintf(stderr, "check failed on the format \"%s\"\n", format.c_str());
  __builtin_trap();
}

// Pieces read alike by all three; by the stream formatter only (the host
// differs on %p, %ld, widths on % and %c, zero under precision 0, negative
// '*' widths, null strings, cut conversions); by the host only (flags, %X).
const char *const both[] = {"%d",    "%7d",  "%.3d", "%9.4d", "%*d", "%.*d", "%i",
                            "%u",    "%12u", "%x",   "%.5x",  "%s",  "%.2s", "%9s",
                            "%*.*s", "%c",   "%%",   "a",     " ",   "|",    "\t"};
const char *const stream_only[] = {"%.0d", "%p", "%ld", "%5c", "%5%", "%q", "%.4294967297d"};
const char *const host_only[] = {"%-7d", "%07d",  "%+d",    "%-+9.3i", "%0*d", "%08.3x",
                                 "%+5u", "%-12X", "%-*.*s", "%-9s",    "%0-8d"};
const char *const endings[] = {"", "%", "%5", "%.", "%l", "%ll"};
const int32_t ints[] = {0, 1, -1, 7, 42, 255, 1000000, INT32_MAX, INT32_MIN, 0x12345678};
// The null string, last, is taken only against the stream formatter.
const char *const strings[] = {"", "a", "hello world", "tab\there", text, nullptr};

#define WORDS(a) a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11]

void differential(FuzzedDataProvider &in, bool with_stream) {
  std::string format;
  intptr_t a[max_args] = {};
  size_t n_args = 0;
  for (int count = 0; count < 16 && in.remaining_bytes() > 1 && n_args + 3 <= max_args; ++count) {
    const char *p = in.ConsumeBool() ? in.PickValueInArray(both)
                    : with_stream    ? in.PickValueInArray(stream_only)
                                     : in.PickValueInArray(host_only);
    format += p;
    // A '*' before the '.' takes a width, after it a precision.
    for (const char *c = p + 1; *p == '%' && *c; ++c) {
      if (*c == '*' && c[-1] != '.')
        a[n_args++] = in.ConsumeIntegralInRange(with_stream ? -30 : 0, 30);
      else if (*c == '*')
        a[n_args++] = in.ConsumeIntegralInRange(with_stream ? -3 : 1, 20);
      else if (strchr("diuxXp", *c))
        a[n_args++] = in.ConsumeBool() ? in.PickValueInArray(ints) : in.ConsumeIntegral<int32_t>();
      else if (*c == 's')
        a[n_args++] = intptr_t(strings[in.ConsumeIntegralInRange<size_t>(0, 4 + with_stream)]);
      else if (*c == 'c')
        a[n_args++] = in.ConsumeIntegralInRange('!', '~');
    }
  }
  if (with_stream) format += in.PickValueInArray(endings);
  size_t size = in.ConsumeIntegralInRange(0, 120);

  // The whole text against the stream formatter; against the host, `size`
  // bytes between guard bytes.
  char full[1024], ours[128], theirs[128];
  const char *f = format.c_str();
  int n = kivos_snprintf(full, sizeof full, f, WORDS(a));
  expect(n >= 0 && size_t(n) < sizeof full, format);
  if (with_stream) {
    char *out = nullptr;
    size_t len = 0;
    expect(kivos_fprintf(kivos_open_memstream(&out, &len), f, WORDS(a)) == n, format);
    expect(len == size_t(n) && (n == 0 || memcmp(out, full, len) == 0), format);
    return;
  }
  memset(ours, 0x5a, sizeof ours);
  memset(theirs, 0x5a, sizeof theirs);
  expect(kivos_snprintf(ours, size, f, WORDS(a)) == snprintf(theirs, size, f, WORDS(a)), format);
  expect(memcmp(ours, theirs, sizeof ours) == 0, format);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 256) return 0;
  kivos_g_heap_used = 0; // each input on an empty heap, as each program starts
  if (data[0] & 1) {
    FuzzedDataProvider in(data + 1, size - 1);
    differential(in, data[0] & 2);
    return 0;
  }
  size_t bound = data[0] % 64;
  std::string format(reinterpret_cast<const char *>(data + 1), size - 1);
  // Long widths only make slow runs; without '*' each '%' takes at most one
  // argument, so there are enough.
  for (size_t i = 0, digits = 0, conversions = 0; i < format.size(); ++i) {
    digits = format[i] >= '0' && format[i] <= '9' ? digits + 1 : 0;
    if (digits > 3) format[i] = 'd';
    if (format[i] == '*') format[i] = 'x';
    if (format[i] == '%' && ++conversions > max_args) format[i] = 'q';
  }
  intptr_t a[max_args];
  for (intptr_t &word : a) word = intptr_t(text);
  const char *f = format.c_str();
  char buf[64];
  int measured = kivos_snprintf(nullptr, 0, f, WORDS(a));
  int stored = kivos_snprintf(buf, bound, f, WORDS(a));
  expect(measured == stored && measured >= 0, format);
  expect(!bound || buf[size_t(stored) < bound - 1 ? stored : bound - 1] == 0, format);

  char *out = nullptr;
  size_t len = 0;
  int n = kivos_fprintf(kivos_open_memstream(&out, &len), f, WORDS(a));
  expect(n < 0 || size_t(n) == len, format);
  return 0;
}
