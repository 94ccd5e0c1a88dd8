// The standard streams, unformatted output and the stream formatter behind
// printf. Nothing is buffered: a descriptor stream hands every piece to
// write() at once; the collecting kinds are served by files.cpp.
#include "stdio_impl.h"

#include <kivos/trap.h>
#include <string.h>
#include <unistd.h>

#if defined(__i386__)
static_assert(sizeof(FILE) == 44, "a stream is eleven 32-bit words");
#endif

extern "C" {
FILE g_stdout = {STREAM_FD, 1};
FILE g_stderr = {STREAM_FD, 1};
FILE g_stdin = {STREAM_FD, 0};
[[gnu::weak]] int kivos_stdio_collect(FILE *, const char *, size_t) KIVOS_STDIO_REGISTERS;
}

namespace {

// The one byte write path: 0 when all bytes were taken, -1 otherwise. On
// the console it goes on until the kernel has taken every byte.
int file_write_bytes(FILE *stream, const void *data, size_t count) {
  if (!stream || !data) return -1;
  if (count == 0) return 0;
  const char *bytes = static_cast<const char *>(data);
  if (stream->kind != STREAM_FD)
    return kivos_stdio_collect ? kivos_stdio_collect(stream, bytes, count) : -1;
  if (stream->fd != 1) return -1;
  for (;;) {
    ssize_t got = kivos_sys_write(1, bytes, count);
    if (got <= 0) return -1;
    // A kernel that claims more than was offered has taken it all.
    if (size_t(got) >= count) return 0;
    bytes += got;
    count -= size_t(got);
  }
}

// Also the zero of the precision fill.
constexpr char digit_chars[] = "0123456789abcdef";

// The spaces or zeros that bring `used` bytes up to `width`.
uint32_t fill_for(int32_t width, uint32_t used) {
  return width > 0 && uint32_t(width) > used ? uint32_t(width) - used : 0;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Writes what one conversion produces, from where the bytes already lie:
// spaces up to the width, the prefix (a string) one byte per piece, zeros up
// to the precision one per piece, then the body in one piece. Adds the bytes
// to `count`, which saturates at the int limit so that a long text never
// comes back negative. False when a piece failed.
[[gnu::always_inline]] inline bool write_field(FILE *stream, uint32_t &count, int32_t width,
                                               int32_t precision, const char *prefix,
                                               const char *body, size_t body_len) {
  uint32_t prefix_len = uint32_t(strlen(prefix));
  uint32_t zeros = fill_for(precision, uint32_t(body_len));
  uint32_t fill = fill_for(width, prefix_len + zeros + uint32_t(body_len));
  uint32_t singles = fill + prefix_len + zeros;
  for (uint32_t k = 0; k <= singles; ++k) {
    const char *piece = body;
    size_t n = body_len;
    if (k < singles) {
      n = 1;
      piece = k < fill ? " " : k < fill + prefix_len ? prefix + (k - fill) : digit_chars;
    }
    if (file_write_bytes(stream, piece, n)) return false;
    count = n >= max_count - count ? max_count : count + uint32_t(n);
  }
  return true;
}

// Writes the conversion whose '%' is at `piece`, adds its bytes to `count`
// and returns where the format goes on, or null when a write failed.
[[gnu::noinline]] const char *convert(FILE *stream, const char *piece, va_list *args,
                                      uint32_t &count) {
  const char *f = piece + 1;
  int32_t width = 0, precision = -1; // a negative precision is none
  for (int32_t *target = &width;; target = &precision) {
    uint32_t n = 0; // digits wrap as unsigned arithmetic does
    if (*f == '*')
      ++f, n = va_arg(*args, unsigned int);
    else
      while (is_digit(*f)) n = n * 10 + uint32_t(*f++ - '0');
    *target = int32_t(n);
    if (target == &precision || *f != '.') break;
    ++f;
  }
  bool wide = false; // one 'l' changes nothing, 'll' takes 64 bits
  if (*f == 'l' && *++f == 'l') ++f, wide = true;
  char conv = *f;
  if (!conv) return f; // the format ended inside a conversion
  const char *prefix = "", *body = f++;
  size_t body_len = 1;
  char digits[32]; // also the byte of a %c
  if (conv == 's') {
    body = va_arg(*args, const char *);
    if (!body) body = "(null)";
    // No precision reads up to the NUL; with one, nothing past it.
    body_len = strnlen(body, uint32_t(precision));
    precision = -1;
  } else if (conv == 'd' || conv == 'i' || conv == 'u' || conv == 'x' || conv == 'p') {
    uint64_t v = wide ? va_arg(*args, unsigned long long) : va_arg(*args, unsigned int);
    uint32_t base = 10;
    if (conv == 'd' || conv == 'i') {
      if (!wide) v = uint64_t(int64_t(int32_t(v)));
      if (int64_t(v) < 0) v = 0 - v, prefix = "-";
    } else if (conv != 'u') {
      base = 16;
      if (conv == 'p') prefix = "0x";
    }
    // Least significant digit first. Each step divides the 64-bit value
    // by the base: the high word in C, then the remainder and the low
    // word with one divide instruction (both builds are x86), whose
    // quotient fits in 32 bits because the remainder is below the base.
    // C would call a 64-bit division routine instead.
    char *end = digits + sizeof digits, *d = end;
    uint32_t hi = uint32_t(v >> 32), lo = uint32_t(v);
    do {
      uint32_t r = hi % base;
      hi /= base;
      asm("divl %[base]" : "+a"(lo), "+d"(r) : [base] "rm"(base));
      *--d = digit_chars[r];
    } while (hi | lo);
    body = d;
    body_len = size_t(end - d);
  } else {
    // '%' writes itself, the conversion character; an unknown one gets the
    // '%' before it. Like 'c', neither takes a width or a precision.
    if (conv == 'c') {
      digits[0] = char(va_arg(*args, int));
      body = digits;
    } else if (conv != '%') {
      prefix = "%";
    }
    width = 0;
    precision = -1;
  }
  return write_field(stream, count, width, precision, prefix, body, body_len) ? f : nullptr;
}

// The formatter proper; vfprintf gives it a copy of the arguments that the
// conversions can take from.
[[gnu::always_inline]] inline int print_format(FILE *stream, const char *f, va_list *args) {
  bool console = stream->kind == STREAM_FD && stream->fd == 1;
  // A format that starts with %c on the console sends a control sequence:
  // 0xFF and the low bytes of three arguments, in one write, not counted.
  if (console && f[0] == '%' && f[1] == 'c') {
    // A braced list takes the arguments in order.
    char lead[4] = {char(0xff), char(va_arg(*args, int)), char(va_arg(*args, int)),
                    char(va_arg(*args, int))};
    if (file_write_bytes(stream, lead, 4)) return -1;
    f += 2;
  }
  uint32_t count = 0;
  while (*f) {
    const char *piece = f++;
    if (*piece != '%') {
      // The most frequent piece, a literal byte, goes to the console
      // through the write wrapper inlined here, with little else live: on
      // the emulator every store (a return address, a saved register, a
      // pushed argument) is slow.
      if (console ? kivos_sys_write(1, piece, 1) <= 0 : file_write_bytes(stream, piece, 1) != 0)
        return -1;
      count += count < max_count;
      continue;
    }
    // A copy of the count goes to the conversion, so that the literal path
    // can keep its own in a register.
    uint32_t counted = count;
    f = convert(stream, piece, args, counted);
    if (!f) return -1;
    count = counted;
  }
  return int(count);
}

// fputc's way for every byte but one a file's buffer has room for; apart, so
// that the common way saves no registers and stores no byte of its own.
[[gnu::noinline]] int put_byte(int c, FILE *stream) {
  unsigned char byte = static_cast<unsigned char>(c);
  return file_write_bytes(stream, &byte, 1) ? -1 : c;
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
  // A byte for a file whose buffer has room: two stores, no call.
  if (stream && stream->kind == STREAM_FILE) {
    size_t len = stream->len;
    if (stream->buf && len + 1 < stream->cap) {
      stream->buf[len] = char(c);
      stream->len = len + 1;
      return c;
    }
  }
  return put_byte(c, stream);
}

int putchar(int c) {
  return fputc(c, stdout);
}

int fputs(const char *s, FILE *stream) {
  if (!s) return -1;
  size_t n = strlen(s);
  return file_write_bytes(stream, s, n) ? -1 : int(n);
}

// The string in one piece, then the newline in another, exactly as the
// stream formatter writes "%s\n"; after a failed piece nothing more is tried.
int puts(const char *s) {
  if (!s) return -1;
  return printf("%s\n", s) < 0 ? -1 : 0;
}

int fflush(FILE *) {
  return 0;
}

void setbuf(FILE *, char *) {}

int vfprintf(FILE *stream, const char *format, va_list args) {
  if (!stream || !format) return -1;
  va_list copy;
  va_copy(copy, args);
  int n = print_format(stream, format, &copy);
  va_end(copy);
  return n;
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
