// The scan engine behind sscanf and fscanf: one forward pass over format
// and text, digit loops of its own with 32-bit wrap, no allocation. It
// shares no code with the formatters.
#include "stdio_impl.h"

#include <stdarg.h>

namespace {

bool is_space_or_tab(char c) {
  return c == ' ' || c == '\t';
}

// The white space of the format, and what a format white-space directive skips.
bool is_format_space(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

// Where an `s` word ends.
bool ends_word(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == 0;
}

// What separates fscanf's tokens.
bool is_token_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

uint32_t scan_digit(char c, uint32_t base) {
  uint32_t d = c >= '0' && c <= '9' ? uint32_t(c - '0')
               : base == 16 && (c | 0x20) >= 'a' && (c | 0x20) <= 'f'
                   ? uint32_t((c | 0x20) - 'a' + 10)
                   : 99;
  return d < base ? d : 99;
}

// Reads a run of digits in `base`, wrapping at 32 bits; false when there is
// none.
bool scan_digits(const char *&in, uint32_t base, uint32_t &value) {
  const char *start = in;
  value = 0;
  for (uint32_t d; *in && (d = scan_digit(*in, base)) != 99; ++in) value = value * base + d;
  return in != start;
}

// Reads a signed number for d, i, x and X; false when there is none.
bool scan_signed(const char *&in, char conv, uint32_t &value) {
  while (is_space_or_tab(*in)) ++in;
  bool negative = *in == '-';
  if (*in == '-' || *in == '+') ++in;
  uint32_t base = conv == 'x' || conv == 'X' ? 16 : 10;
  if (conv == 'i' && in[0] == '0') {
    if ((in[1] | 0x20) == 'x') {
      in += 2;
      base = 16;
    } else {
      base = 8;
    }
  }
  if (!scan_digits(in, base, value)) return false;
  if (negative) value = 0 - value;
  return true;
}

} // namespace

extern "C" {

int vsscanf(const char *str, const char *fmt, va_list ap) {
  const char *in = str, *f = fmt;
  int count = 0;
  while (*f) {
    if (is_format_space(*f)) {
      while (is_format_space(*in)) ++in;
      while (is_format_space(*f)) ++f;
      continue;
    }
    if (*f != '%') {
      if (*in != *f) return count;
      ++in;
      ++f;
      continue;
    }
    ++f;
    bool store = *f != '*';
    if (!store) ++f;
    uint32_t width = 0;
    for (; *f >= '0' && *f <= '9'; ++f) width = width * 10 + uint32_t(*f - '0');
    switch (*f++) {
    case '%':
      if (*in != '%') return count;
      ++in;
      break;
    case 'd':
    case 'i':
    case 'x':
    case 'X': {
      uint32_t value;
      if (!scan_signed(in, f[-1], value)) return count;
      if (store) {
        *va_arg(ap, int *) = int(int32_t(value));
        ++count;
      }
      break;
    }
    case 'u': {
      while (is_space_or_tab(*in)) ++in;
      uint32_t value;
      if (!scan_digits(in, 10, value)) return count;
      if (store) {
        *va_arg(ap, unsigned int *) = value;
        ++count;
      }
      break;
    }
    case 'c':
      if (!*in) return count;
      if (store) {
        *va_arg(ap, char *) = *in;
        ++count;
      }
      ++in;
      break;
    case 's': {
      while (is_space_or_tab(*in)) ++in;
      if (!*in) return count;
      char *dst = store ? va_arg(ap, char *) : nullptr;
      // A width bounds the word: the rest is left for the next directive.
      uint32_t n = 0;
      for (; !ends_word(in[n]) && (width == 0 || n < width); ++n)
        if (dst) dst[n] = in[n];
      in += n;
      if (dst) {
        dst[n] = 0;
        ++count;
      }
      break;
    }
    default: // another conversion, or the end of the format
      return count;
    }
  }
  return count;
}

int sscanf(const char *str, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = vsscanf(str, fmt, ap);
  va_end(ap);
  return n;
}

// Scans one white-space-delimited token, read a byte at a time so that
// nothing after its terminator is taken from the descriptor.
int fscanf(FILE *f, const char *fmt, ...) {
  if (!f || !fmt || f->kind != STREAM_FD) return -1;
  int c;
  do c = fgetc(f);
  while (is_token_space(c));
  if (c < 0) return -1;
  char token[256];
  uint32_t len = 0;
  for (; c >= 0 && !is_token_space(c); c = fgetc(f))
    if (len < sizeof token - 1) token[len++] = char(c);
  token[len] = 0;
  va_list ap;
  va_start(ap, fmt);
  int n = vsscanf(token, fmt, ap);
  va_end(ap);
  return n;
}

} // extern "C"
