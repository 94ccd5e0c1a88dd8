// The buffer formatter behind snprintf. It shares no code with the stream
// formatter and calls no other runtime function.
#include <stdint.h>
#include <stdio.h>

namespace {

constexpr uint32_t max_count = 0x7fffffffu;

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

} // extern "C"
