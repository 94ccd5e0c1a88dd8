// Both formatters on arbitrary formats. Even first bytes: every argument
// word points at a valid string, so any conversion may take it; checked: no
// memory error, the buffer formatter's result and NUL, and the stream
// formatter's count against the bytes its memory stream collected. Odd
// first bytes: a format spelled from pieces that the buffer formatter reads
// as the stream formatter does (second bit set) or as the host's snprintf
// does (second bit clear), whose texts must agree.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

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
  std::fprintf(stderr, "formats differ on \"%s\"\n", format.c_str());
  __builtin_trap();
}

// Whom the buffer formatter agrees with on a piece: the stream formatter
// (not on flags, %X, %ll or a width for %p), the host (not on %p, %ld, a '%'
// or %c with a width, a negative '*' width, zero under precision 0, or a
// conversion cut short), or both.
enum { stream = 1, host = 2, both = 3 };

// Arguments: i an int, w a width of 0 to 30, n a negative width, p a
// precision of 1 to 20 or negative, s a string, c a character.
struct piece {
  const char *text, *args;
  int agree;
};

const piece pieces[] = {
    {"%d", "i", both},
    {"%7d", "i", both},
    {"%.3d", "i", both},
    {"%9.4d", "i", both},
    {"%*d", "wi", both},
    {"%*d", "ni", stream},
    {"%.*d", "pi", both},
    {"%.0d", "i", stream},
    {"%i", "i", both},
    {"%u", "i", both},
    {"%12u", "i", both},
    {"%x", "i", both},
    {"%.5x", "i", both},
    {"%p", "i", stream},
    {"%ld", "i", stream},
    {"%s", "s", both},
    {"%.2s", "s", both},
    {"%9s", "s", both},
    {"%*.*s", "wps", both},
    {"%c", "c", both},
    {"%5c", "c", stream},
    {"%%", "", both},
    {"%5%", "", stream},
    {"%q", "", stream},
    {"a", "", both},
    {" ", "", both},
    {"|", "", both},
    {"\t", "", both},
    {"%.4294967297d", "i", stream},
    {"%-7d", "i", host},
    {"%07d", "i", host},
    {"%+d", "i", host},
    {"%-+9.3i", "i", host},
    {"%0*d", "wi", host},
    {"%08.3x", "i", host},
    {"%+5u", "i", host},
    {"%-12X", "i", host},
    {"%-*.*s", "wps", host},
    {"%-9s", "s", host},
    {"%0-8d", "i", host},
};
// A conversion cut short may only end the format.
const char *const endings[] = {"", "%", "%5", "%.", "%l", "%ll"};

const int32_t ints[] = {0, 1, -1, 7, 42, 255, 1000000, INT32_MAX, INT32_MIN, 0x12345678};
// The null string, last, only against the stream formatter.
const char *const strings[] = {"", "a", "hello world", "tab\there", text, nullptr};

#define WORDS(a) a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11]

void differential(FuzzedDataProvider &in, int with) {
  std::string format;
  std::vector<intptr_t> args;
  for (int count = 0; count < 16 && in.remaining_bytes() > 1; ++count) {
    const piece &p = in.PickValueInArray(pieces);
    if (!(p.agree & with)) continue;
    if (args.size() + strlen(p.args) > max_args) break;
    format += p.text;
    for (const char *k = p.args; *k; ++k) {
      switch (*k) {
      case 'i':
        args.push_back(in.ConsumeBool() ? in.PickValueInArray(ints)
                                        : in.ConsumeIntegral<int32_t>());
        break;
      case 'w':
        args.push_back(in.ConsumeIntegralInRange(0, 30));
        break;
      case 'n':
        args.push_back(in.ConsumeIntegralInRange(-30, -1));
        break;
      case 'p':
        args.push_back(in.ConsumeBool() ? in.ConsumeIntegralInRange(1, 20) : -3);
        break;
      case 's':
        args.push_back(intptr_t(strings[in.ConsumeIntegralInRange<size_t>(
            0, std::size(strings) - (with == host ? 2 : 1))]));
        break;
      case 'c':
        args.push_back(in.ConsumeIntegralInRange('!', '~'));
        break;
      }
    }
  }
  if (with == stream) format += in.PickValueInArray(endings);
  args.resize(max_args);
  size_t size = in.ConsumeIntegralInRange(0, 120);

  // Against the stream formatter the whole text, against the host the text
  // bounded by `size` bytes between guard bytes.
  char full[1024], ours[128], theirs[128];
  const char *f = format.c_str();
  const intptr_t *a = args.data();
  int n = kivos_snprintf(full, sizeof full, f, WORDS(a));
  expect(n >= 0 && size_t(n) < sizeof full, format);
  if (with == stream) {
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

#define ARGS text, text, text, text, text, text, text, text, text, text, text, text

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 256) return 0;
  kivos_g_heap_used = 0; // each input on an empty heap, as each program starts
  if (data[0] & 1) {
    FuzzedDataProvider in(data + 1, size - 1);
    differential(in, data[0] & 2 ? stream : host);
    return 0;
  }
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
  int n = kivos_fprintf(f, format.c_str(), ARGS);
  if (n >= 0 && size_t(n) != len) __builtin_trap();
  return 0;
}
