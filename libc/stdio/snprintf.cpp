// The buffer formatter behind snprintf. It shares no code with the stream
// formatter and calls no other runtime function.
#include <stdint.h>
#include <stdio.h>

namespace {

constexpr uint32_t max_count = 0x7fffffffu;

// Puts the digits of value just before `end`, most significant first;
// answers where they begin. One store a digit, nothing else.
[[gnu::always_inline]] inline char *snbuf_render_unsigned(char *end, unsigned int value,
                                                          unsigned int base, int upper) {
  const char *table = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  do {
    *--end = table[value % base];
    value /= base;
  } while (value);
  return end;
}

// The bounded store: a cursor into the buffer that stops at the place of
// the NUL, and a count of the bytes that did not fit. That count saturates
// instead of wrapping: only a total past INT_MAX, answered as INT_MAX, can
// reach its top. A byte costs one store and nothing more.
struct snbuf {
  char *at, *limit;     // equal when nothing more fits (or there is no buffer)
  uint32_t dropped = 0; // bytes counted without being stored

  void drop(uint32_t n) { dropped = n > UINT32_MAX - dropped ? UINT32_MAX : dropped + n; }
  [[gnu::always_inline]] void put(const char *s, uint32_t n) {
    size_t room = size_t(limit - at);
    uint32_t k = room < n ? uint32_t(room) : n;
    char *d = at; // a local, so the loop stores only bytes
    for (char *e = d + k; d != e;) *d++ = *s++;
    at = d;
    drop(n - k);
  }
  [[gnu::always_inline]] void fill(char c, uint32_t n) {
    size_t room = size_t(limit - at);
    uint32_t k = room < n ? uint32_t(room) : n;
    char *d = at;
    for (char *e = d + k; d != e;) *d++ = c;
    at = d;
    drop(n - k);
  }
};

uint32_t snbuf_fill_for(int32_t width, uint64_t used) {
  return width > 0 && uint64_t(width) > used ? uint32_t(uint64_t(width) - used) : 0;
}

[[gnu::always_inline]] inline int32_t snbuf_number(const char *&f) {
  uint32_t n = 0;
  while (*f >= '0' && *f <= '9') n = n * 10 + uint32_t(*f++ - '0');
  return int32_t(n);
}

} // namespace

extern "C" {

int vsnprintf(char *buf, size_t size, const char *format, va_list ap) {
  if (!format) {
    if (buf && size) buf[0] = 0;
    return 0;
  }
  bool room = buf && size;
  snbuf out{buf, room ? buf + size - 1 : buf};
  const char *f = format;
  for (;;) {
    const char *run = f;
    while (*f && *f != '%') ++f;
    out.put(run, uint32_t(f - run));
    if (!*f) break;
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
    char digits[12];
    char *end = digits + sizeof digits;
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
      char *first =
          snbuf_render_unsigned(end, magnitude, conv == 'x' || conv == 'X' ? 16 : 10, conv == 'X');
      uint32_t ndigits = uint32_t(end - first);
      uint32_t zeros = precision > int32_t(ndigits) ? uint32_t(precision) - ndigits : 0;
      uint32_t fill = snbuf_fill_for(width, uint64_t(sign != 0) + zeros + ndigits);
      if (zero && !left && precision < 0) zeros += fill, fill = 0;
      if (!left) out.fill(' ', fill);
      if (sign) *--first = sign, ++ndigits; // the digits have room before them
      if (zeros && sign) out.put(first, 1), ++first, --ndigits;
      out.fill('0', zeros);
      out.put(first, ndigits);
      if (left) out.fill(' ', fill);
      break;
    }
    case 'p': {
      char *first = snbuf_render_unsigned(end, unsigned(uintptr_t(va_arg(ap, void *))), 16, 0);
      *--first = 'x';
      *--first = '0';
      out.put(first, uint32_t(end - first));
      break;
    }
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
    case 'c':
      digits[0] = char(va_arg(ap, int));
      out.put(digits, 1);
      break;
    case '%':
      out.put("%", 1);
      break;
    default:
      digits[0] = '%';
      digits[1] = conv;
      out.put(digits, 2);
    }
  }
  if (room) *out.at = 0;
  uint64_t count = uint64_t(out.at - buf) + out.dropped;
  return count > max_count ? int(max_count) : int(count);
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

} // extern "C"
