// The standard streams, unformatted output and the stream formatter behind
// printf. Nothing is buffered: a descriptor stream hands every piece to
// write() at once; the collecting kinds are served by files.cpp.
#include "stdio_impl.h"

#include <string.h>
#include <unistd.h>

#if defined(__i386__)
static_assert(sizeof(FILE) == 44, "a stream is eleven 32-bit words");
#endif

extern "C" {
FILE g_stdout = {STREAM_FD, 1};
FILE g_stderr = {STREAM_FD, 1};
FILE g_stdin = {STREAM_FD, 0};
[[gnu::weak]] int kivos_stdio_collect(FILE *, const char *, size_t);
}

namespace {

// Hands bytes to descriptor 1 until the kernel has taken them all. Inlined
// where the formatter produces its literal pieces, so that a piece costs the
// console no call of its own: on this emulator every store (a return
// address, a saved register) is slow.
[[gnu::always_inline]] inline int write_through(const char *bytes, size_t count) {
  for (;;) {
    ssize_t got = write(1, bytes, count > max_count ? max_count : count);
    if (got <= 0) return -1;
    // A kernel that claims more than was offered has taken it all.
    if (size_t(got) >= count) return 0;
    bytes += got;
    count -= size_t(got);
  }
}

// The one byte write path: 0 when all bytes were taken, -1 otherwise.
int file_write_bytes(FILE *stream, const void *data, size_t count) {
  if (!stream || !data) return -1;
  if (count == 0) return 0;
  const char *bytes = static_cast<const char *>(data);
  if (stream->kind != STREAM_FD)
    return kivos_stdio_collect ? kivos_stdio_collect(stream, bytes, count) : -1;
  return stream->fd == 1 ? write_through(bytes, count) : -1;
}

// Formatter output: counts what was written, saturating at the int limit so
// that a long text never comes back negative. Pieces are handed over where
// they already lie (the format, the constants below), not copied first.
struct printer {
  FILE *stream;
  uint32_t count;
  bool console; // a descriptor stream on the console: straight to write()

  [[gnu::noinline]] bool put(const char *data, size_t n) {
    if (console ? n && write_through(data, n) : file_write_bytes(stream, data, n)) return false;
    return counted(n);
  }
  bool counted(size_t n) {
    count = n >= max_count - count ? max_count : count + uint32_t(n);
    return true;
  }
  bool repeat(const char *c, uint32_t n) {
    while (n--) {
      if (!put(c, 1)) return false;
    }
    return true;
  }
};

constexpr char space[] = " ";
constexpr char hex_prefix[] = "0x"; // its '0' is also the precision fill
constexpr char minus_sign[] = "-";
constexpr char hex_digits[] = "0123456789abcdef";

uint32_t fill_for(int32_t width, uint32_t used) {
  return width > 0 && uint32_t(width) > used ? uint32_t(width) - used : 0;
}

// Every conversion ends here: spaces up to the width, the prefix byte by
// byte, the precision zeros, then the body in one piece.
[[gnu::noinline]] bool print_field(printer &out, int32_t width, const char *prefix,
                                   uint32_t prefix_len, uint32_t zeros, const char *body,
                                   size_t body_len) {
  uint32_t shown = body_len > max_size ? max_size : uint32_t(body_len);
  if (!out.repeat(space, fill_for(width, prefix_len + zeros + shown))) return false;
  for (uint32_t i = 0; i < prefix_len; ++i) {
    if (!out.put(prefix + i, 1)) return false;
  }
  return out.repeat(hex_prefix, zeros) && out.put(body, body_len);
}

// Writes the digits of v, most significant first, ending at `end`; returns
// where they start. The 64-bit value is divided in 16-bit steps, so only
// 32-bit divisions are needed (the base is at most 16).
[[gnu::noinline]] char *render_digits(uint64_t v, uint32_t base, char *end) {
  uint32_t hi = uint32_t(v >> 32), lo = uint32_t(v);
  do {
    uint32_t r = hi % base;
    hi /= base;
    uint32_t t = r << 16 | lo >> 16;
    uint32_t q = t / base;
    t = (t % base) << 16 | (lo & 0xffff);
    lo = q << 16 | t / base;
    *--end = hex_digits[t % base];
  } while (hi | lo);
  return end;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Reads a run of digits in wrapping unsigned arithmetic.
int32_t read_number(const char *&f) {
  uint32_t n = 0;
  while (is_digit(*f)) n = n * 10 + uint32_t(*f++ - '0');
  return int32_t(n);
}

} // namespace

extern "C" {

FILE *stdout = &g_stdout;
FILE *stderr = &g_stderr;
FILE *stdin = &g_stdin;

size_t fwrite(const void *ptr, size_t size, size_t count, FILE *stream) {
  uint32_t total;
  if (!ptr || !stream || size == 0 || count == 0 || size > max_size || count > max_size ||
      __builtin_mul_overflow(uint32_t(size), uint32_t(count), &total))
    return 0;
  return file_write_bytes(stream, ptr, total) ? 0 : count;
}

int fputc(int c, FILE *stream) {
  unsigned char byte = static_cast<unsigned char>(c);
  return file_write_bytes(stream, &byte, 1) ? -1 : c;
}

int putchar(int c) {
  return fputc(c, stdout);
}

int fputs(const char *s, FILE *stream) {
  if (!s) return -1;
  size_t n = strlen(s);
  return file_write_bytes(stream, s, n) ? -1 : int(n);
}

int puts(const char *s) {
  if (!s) return -1;
  FILE *out = stdout;
  if (file_write_bytes(out, s, strlen(s))) return -1;
  return file_write_bytes(out, "\n", 1) ? -1 : 0;
}

int fflush(FILE *) {
  return 0;
}

void setbuf(FILE *, char *) {}

int vfprintf(FILE *stream, const char *format, va_list args) {
  if (!stream || !format) return -1;
  const char *f = format;
  // A format that starts with %c on the console sends a control sequence:
  // 0xFF and the low bytes of three arguments, in one write, not counted.
  if (stream->kind == STREAM_FD && stream->fd == 1 && f[0] == '%' && f[1] == 'c') {
    unsigned char lead[4] = {0xff};
    for (int i = 1; i < 4; ++i) lead[i] = static_cast<unsigned char>(va_arg(args, int));
    if (file_write_bytes(stream, lead, 4)) return -1;
    f += 2;
  }
  bool console = stream->kind == STREAM_FD && stream->fd == 1;
  printer out{stream, 0, console};
  while (*f) {
    const char *piece = f++;
    if (*piece != '%') {
      // The most frequent piece, a literal byte, goes straight to the console.
      if (console ? write_through(piece, 1) || !out.counted(1) : !out.put(piece, 1)) return -1;
      continue;
    }
    int32_t width = *f == '*' ? (++f, va_arg(args, int)) : read_number(f);
    int32_t precision = -1;
    if (*f == '.') {
      ++f;
      precision = *f == '*' ? (++f, va_arg(args, int)) : read_number(f);
    }
    bool wide = false;
    if (*f == 'l') {
      wide = *++f == 'l';
      if (wide) ++f;
    }
    char conv = *f;
    if (!conv) break; // the format ended inside a conversion
    ++f;
    const char *prefix = nullptr, *body = piece;
    uint32_t prefix_len = 0, zeros = 0;
    size_t body_len = 1;
    int32_t field_width = 0; // only strings and numbers fill to a width
    char byte, digits[32];
    switch (conv) {
    case '%':
      break;
    case 'c':
      byte = char(va_arg(args, int));
      body = &byte;
      break;
    case 's':
      body = va_arg(args, const char *);
      if (!body) body = "(null)";
      // With a precision nothing past it is looked at: the text need not end.
      body_len = precision >= 0 ? strnlen(body, uint32_t(precision)) : strlen(body);
      field_width = width;
      break;
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'p': {
      bool is_signed = conv == 'd' || conv == 'i';
      uint64_t v = wide        ? va_arg(args, unsigned long long)
                   : is_signed ? uint64_t(int64_t(va_arg(args, int)))
                               : va_arg(args, unsigned int);
      if (is_signed && int64_t(v) < 0) {
        v = 0 - v;
        prefix = minus_sign;
        prefix_len = 1;
      }
      if (conv == 'p') {
        prefix = hex_prefix;
        prefix_len = 2;
      }
      char *end = digits + sizeof digits;
      body = render_digits(v, conv == 'x' || conv == 'p' ? 16 : 10, end);
      body_len = size_t(end - body);
      zeros = fill_for(precision, uint32_t(body_len));
      field_width = width;
      break;
    }
    default: // unknown: '%' and the character, all else dropped
      prefix = piece;
      prefix_len = 1;
      body = f - 1;
    }
    if (!print_field(out, field_width, prefix, prefix_len, zeros, body, body_len)) return -1;
  }
  return int(out.count);
}

int fprintf(FILE *stream, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vfprintf(stream, format, args);
  va_end(args);
  return n;
}

int printf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vfprintf(stdout, format, args);
  va_end(args);
  return n;
}

} // extern "C"
