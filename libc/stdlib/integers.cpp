// Integer parsing: strtoul (strtol is the same routine) and the decimal
// routine of atoi and atol. Two independent routines with their own
// character classes; all accumulation wraps modulo 2^32, and nothing
// divides, allocates or touches errno.
#include <stdint.h>
#include <stdlib.h>

namespace {

// The digit value of c in bases up to 16, or 99 for a byte that is none.
int32_t digit_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c |= 0x20;
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : 99;
}

uint32_t parse_unsigned(const char *s, char **end, int base) {
  if (!s) {
    if (end) *end = nullptr;
    return 0;
  }
  const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
  while (*p == '\t' || *p == '\n' || *p == '\r' || *p == ' ') ++p;
  bool hex_prefix = p[0] == '0' && (p[1] | 0x20) == 'x';
  if (base == 0) {
    base = hex_prefix ? 16 : p[0] == '0' ? 8 : 10;
    if (p[0] == '0') p += hex_prefix ? 2 : 1;
  } else if (base == 16 && hex_prefix) {
    p += 2;
  }
  uint32_t value = 0;
  // The base is not validated: a digit counts when its value is below it.
  for (int32_t d; (d = digit_value(*p)) < base; ++p) value = value * uint32_t(base) + uint32_t(d);
  if (end) *end = const_cast<char *>(reinterpret_cast<const char *>(p));
  return value;
}

int32_t parse_decimal(const char *s) {
  if (!s) return 0;
  while (*s == '\t' || *s == '\n' || *s == ' ') ++s;
  bool negative = *s == '-';
  if (*s == '-' || *s == '+') ++s;
  uint32_t value = 0;
  for (; *s >= '0' && *s <= '9'; ++s) value = value * 10 + uint32_t(*s - '0');
  return int32_t(negative ? 0 - value : value);
}

} // namespace

extern "C" {

unsigned long strtoul(const char *s, char **end, int base) {
  return parse_unsigned(s, end, base);
}

long strtol(const char *s, char **end, int base) {
  return int32_t(parse_unsigned(s, end, base));
}

int atoi(const char *s) {
  return parse_decimal(s);
}

long atol(const char *s) {
  return parse_decimal(s);
}

} // extern "C"
