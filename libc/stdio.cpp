// Streams and the stream formatter. Nothing is buffered: a descriptor stream
// hands every piece to write() at once, the other kinds collect their bytes
// in a heap buffer that is kept NUL-terminated.
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#if defined(__i386__)
static_assert(sizeof(FILE) == 44, "a stream is eleven 32-bit words");
#endif

namespace {

enum stream_kind : int { STREAM_FD = 1, STREAM_MEMORY = 2, STREAM_FILE = 3 };

constexpr uint32_t max_count = 0x7fffffffu;
constexpr uint32_t max_size = 0xffffffffu;

FILE g_stdout = {STREAM_FD, 1};
FILE g_stderr = {STREAM_FD, 1};
FILE g_stdin = {STREAM_FD, 0};

// Grows the buffer of a collecting stream so that `needed` bytes fit.
// Capacities start at 256 and double; a size beyond 32 bits fails instead of
// wrapping.
bool reserve(FILE *stream, size_t needed) {
  if (stream->cap >= needed) return true;
  size_t cap = stream->cap ? stream->cap : 256;
  while (cap < needed) {
    if (cap > max_size / 2) return false;
    cap *= 2;
  }
  char *buf = static_cast<char *>(realloc(stream->buf, cap));
  if (!buf) return false;
  stream->buf = buf;
  stream->cap = cap;
  return true;
}

// Hands bytes to descriptor 1 until the kernel has taken them all.
int write_through(const char *bytes, size_t count) {
  for (;;) {
    ssize_t got = write(1, bytes, count > max_count ? max_count : count);
    if (got <= 0) return -1;
    // A kernel that claims more than was offered has taken it all.
    if (size_t(got) >= count) return 0;
    bytes += got;
    count -= size_t(got);
  }
}

// Appends to the buffer of a collecting stream, keeping it NUL-terminated,
// and publishes it for a memory stream. Kept out of line so that the console
// path, taken for every printed piece, saves no registers this one needs.
[[gnu::noinline]] int collect(FILE *stream, const char *bytes, size_t count) {
  size_t len = stream->len;
  if (count > max_size - 1 - len) return -1;
  if (!reserve(stream, len + count + 1)) return -1;
  memcpy(stream->buf + len, bytes, count);
  len += count;
  stream->len = len;
  stream->buf[len] = 0;
  if (stream->kind == STREAM_MEMORY && stream->out_ptr && stream->out_size) {
    *stream->out_ptr = stream->buf;
    *stream->out_size = len;
  }
  return 0;
}

// The one byte write path: 0 when all bytes were taken, -1 otherwise.
int file_write_bytes(FILE *stream, const void *data, size_t count) {
  if (!stream || !data) return -1;
  if (count == 0) return 0;
  const char *bytes = static_cast<const char *>(data);
  if (stream->kind != STREAM_FD) return collect(stream, bytes, count);
  return stream->fd == 1 ? write_through(bytes, count) : -1;
}

// Counts bytes read into the position; like all accumulation it wraps
// modulo 2^32 rather than overflowing.
void advance(FILE *stream, ssize_t got) {
  stream->pos = long(int32_t(uint32_t(stream->pos) + uint32_t(got)));
}

// Only descriptor streams above the standard descriptors can be positioned.
bool seekable(const FILE *stream) {
  return stream && stream->kind == STREAM_FD && stream->fd > 2;
}

// Formatter output: counts what was written, saturating at the int limit so
// that a long text never comes back negative. Pieces are handed over where
// they already lie (the format, the constants below), not copied first.
struct printer {
  FILE *stream;
  uint32_t count;

  bool put(const char *data, size_t n) {
    if (file_write_bytes(stream, data, n)) return false;
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

// The buffer formatter below shares nothing with the stream formatter above
// and calls no other runtime function.

// Puts the digits of value in `digits`, most significant first, and their
// number in *len.
void snbuf_render_unsigned(char *digits, int *len, unsigned int value, unsigned int base,
                           int upper) {
  const char *table = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  if (value == 0) {
    digits[0] = '0';
    *len = 1;
    return;
  }
  int n = 0;
  for (;;) {
    digits[n++] = table[value % base];
    *len = n;
    bool last = value < base;
    value /= base;
    if (last) break;
  }
  for (int i = 0, j = n - 1; i < j; ++i, --j) {
    char t = digits[i];
    digits[i] = digits[j];
    digits[j] = t;
  }
}

// The bounded store. The count is 64 bits wide, so it never wraps; bytes
// past the bound are counted without being stored.
struct snbuf {
  char *buf;
  size_t size;
  uint64_t count;

  // How many of the next n bytes still fit before the place of the NUL.
  uint32_t room(uint32_t n) const {
    if (!buf || count + 1 >= size) return 0;
    uint64_t left = size - 1 - count;
    return n < left ? n : uint32_t(left);
  }
  void put(const char *s, uint32_t n) {
    if (uint32_t k = room(n)) {
      char *d = buf + count;
      for (uint32_t i = 0; i < k; ++i) d[i] = s[i];
    }
    count += n;
  }
  void put(char c) { put(&c, 1); }
  void fill(char c, uint32_t n) {
    if (uint32_t k = room(n)) {
      char *d = buf + count;
      for (uint32_t i = 0; i < k; ++i) d[i] = c;
    }
    count += n;
  }
};

uint32_t snbuf_fill_for(int32_t width, uint64_t used) {
  return width > 0 && uint64_t(width) > used ? uint32_t(uint64_t(width) - used) : 0;
}

int32_t snbuf_number(const char *&f) {
  uint32_t n = 0;
  while (*f >= '0' && *f <= '9') n = n * 10 + uint32_t(*f++ - '0');
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
  printer out{stream, 0};
  while (*f) {
    const char *piece = f++;
    if (*piece != '%') {
      if (!out.put(piece, 1)) return -1;
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

FILE *fopen(const char *path, const char *mode) {
  if (!mode) return nullptr;
  char how = mode[0];
  if (!path || strcmp(path, "-") == 0) return how == 'r' ? stdin : how == 'w' ? stdout : nullptr;
  if (how == 'r') {
    int fd = open(path, O_RDONLY);
    if (fd < 0) return nullptr;
    FILE *f = static_cast<FILE *>(calloc(1, sizeof(FILE)));
    if (!f) {
      close(fd);
      return nullptr;
    }
    f->kind = STREAM_FD;
    f->fd = fd;
    return f;
  }
  if (how == 'w') {
    // Nothing touches the file before fclose writes it whole.
    FILE *f = static_cast<FILE *>(calloc(1, sizeof(FILE)));
    if (!f) return nullptr;
    f->kind = STREAM_FILE;
    f->path = strdup(path);
    if (!f->path) {
      free(f);
      return nullptr;
    }
    return f;
  }
  return nullptr;
}

int fclose(FILE *stream) {
  if (!stream) return -1;
  // Only the three static records stay open for good; any other stream is
  // closed by its kind, even while a standard pointer refers to it.
  if (stream == &g_stdin || stream == &g_stdout || stream == &g_stderr) return 0;
  int result = 0;
  if (stream->kind == STREAM_FD) {
    if (stream->fd > 2) result = close(stream->fd);
  } else if (stream->kind == STREAM_FILE) {
    const char *data = stream->buf ? stream->buf : "";
    result = !stream->path || writefile(stream->path, data, stream->len) < 0 ? -1 : 0;
  }
  // A memory stream's buffer belongs to its caller.
  if (stream->kind != STREAM_MEMORY) free(stream->buf);
  free(stream->path);
  free(stream);
  return result;
}

size_t fread(void *ptr, size_t size, size_t count, FILE *stream) {
  uint32_t total;
  if (!ptr || !stream || size == 0 || count == 0 || stream->kind != STREAM_FD || size > max_size ||
      count > max_size || __builtin_mul_overflow(uint32_t(size), uint32_t(count), &total))
    return 0;
  ssize_t got = read(stream->fd, ptr, total);
  if (got <= 0) {
    stream->eof = 1;
    return 0;
  }
  advance(stream, got);
  // A kernel that claims more than was asked for delivered no more than that.
  uint32_t taken = uint32_t(got) < total ? uint32_t(got) : total;
  if (taken < total) stream->eof = 1;
  return taken / size;
}

int fgetc(FILE *stream) {
  if (!stream || stream->kind != STREAM_FD) return -1;
  unsigned char byte;
  ssize_t got = read(stream->fd, &byte, 1);
  if (got <= 0) {
    stream->eof = 1;
    return -1;
  }
  advance(stream, got);
  return got == 1 ? byte : -1;
}

int getchar(void) {
  FILE *in = stdin;
  if (!in || in->kind != STREAM_FD) return -1;
  return fgetc(in);
}

int fseek(FILE *stream, long offset, int whence) {
  if (!seekable(stream)) return -1;
  off_t at = lseek(stream->fd, offset, whence);
  if (at < 0) return -1;
  stream->eof = 0;
  stream->pos = at;
  return 0;
}

long ftell(FILE *stream) {
  return seekable(stream) ? stream->pos : -1;
}

void rewind(FILE *stream) {
  if (!stream) return;
  if (seekable(stream)) {
    off_t at = lseek(stream->fd, 0, SEEK_SET);
    if (at >= 0) stream->pos = at;
  }
  stream->error = 0;
  stream->eof = 0;
}

int feof(FILE *stream) {
  return stream ? stream->eof : 1;
}

int ferror(FILE *stream) {
  return stream ? stream->error : 1;
}

FILE *open_memstream(char **ptr, size_t *sizeloc) {
  if (!ptr || !sizeloc) return nullptr;
  FILE *f = static_cast<FILE *>(calloc(1, sizeof(FILE)));
  if (!f) return nullptr;
  f->kind = STREAM_MEMORY;
  f->out_ptr = ptr;
  f->out_size = sizeloc;
  *ptr = nullptr;
  *sizeloc = 0;
  return f;
}

int vsnprintf(char *buf, size_t size, const char *format, va_list ap) {
  if (!format) {
    if (buf && size) buf[0] = 0;
    return 0;
  }
  snbuf out{buf, size, 0};
  const char *f = format;
  while (*f) {
    if (*f != '%') {
      const char *run = f;
      while (*f && *f != '%') ++f;
      out.put(run, uint32_t(f - run));
      continue;
    }
    ++f;
    bool left = false, zero = false, plus = false;
    for (;; ++f) {
      if (*f == '-')
        left = true;
      else if (*f == '0')
        zero = true;
      else if (*f == '+')
        plus = true;
      else
        break;
    }
    int32_t width = *f == '*' ? (++f, va_arg(ap, int)) : snbuf_number(f);
    int32_t precision = -1;
    if (*f == '.') {
      ++f;
      precision = *f == '*' ? (++f, va_arg(ap, int)) : snbuf_number(f);
    }
    if (*f == 'l') {
      if (*++f == 'l') ++f;
    } else if (*f == 'z') {
      ++f;
    }
    char conv = *f;
    if (!conv) break; // the format ended inside a conversion
    ++f;
    char digits[10];
    int ndigits = 0;
    switch (conv) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X': {
      char sign = 0;
      unsigned int magnitude;
      if (conv == 'd' || conv == 'i') {
        int v = va_arg(ap, int);
        magnitude = v < 0 ? 0u - unsigned(v) : unsigned(v);
        sign = v < 0 ? '-' : plus ? '+' : 0;
      } else {
        magnitude = va_arg(ap, unsigned int);
      }
      snbuf_render_unsigned(digits, &ndigits, magnitude, conv == 'x' || conv == 'X' ? 16 : 10,
                            conv == 'X');
      uint32_t zeros = precision > ndigits ? uint32_t(precision - ndigits) : 0;
      uint32_t fill = snbuf_fill_for(width, uint64_t(sign != 0) + zeros + uint32_t(ndigits));
      if (left) {
        if (sign) out.put(sign);
        out.fill('0', zeros);
        out.put(digits, uint32_t(ndigits));
        out.fill(' ', fill);
      } else if (zero && precision < 0) {
        if (sign) out.put(sign);
        out.fill('0', fill);
        out.put(digits, uint32_t(ndigits));
      } else {
        out.fill(' ', fill);
        if (sign) out.put(sign);
        out.fill('0', zeros);
        out.put(digits, uint32_t(ndigits));
      }
      break;
    }
    case 'p':
      snbuf_render_unsigned(digits, &ndigits, unsigned(uintptr_t(va_arg(ap, void *))), 16, 0);
      out.put("0x", 2);
      out.put(digits, uint32_t(ndigits));
      break;
    case 'c':
      out.put(char(va_arg(ap, int)));
      break;
    case 's': {
      const char *s = va_arg(ap, const char *);
      if (!s) s = "(null)";
      // Only as many bytes as the precision allows are looked at.
      uint32_t n = 0;
      while ((precision < 0 || n < uint32_t(precision)) && s[n]) ++n;
      uint32_t fill = snbuf_fill_for(width, n);
      if (!left) out.fill(' ', fill);
      out.put(s, n);
      if (left) out.fill(' ', fill);
      break;
    }
    case '%':
      out.put('%');
      break;
    default:
      out.put('%');
      out.put(conv);
    }
  }
  if (buf && size) buf[out.count < size - 1 ? out.count : size - 1] = 0;
  return out.count > max_count ? int(max_count) : int(out.count);
}

int snprintf(char *buf, size_t size, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(buf, size, format, ap);
  va_end(ap);
  return n;
}

int vsprintf(char *buf, const char *format, va_list ap) {
  return vsnprintf(buf, 0x10000, format, ap);
}

int sprintf(char *buf, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(buf, 0x10000, format, ap);
  va_end(ap);
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
