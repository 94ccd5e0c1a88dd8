// 64-bit parsing and the division helpers ordinary C programs expect beyond
// the core runtime, with the C library's behaviour: white space and a
// sign are accepted, a value out of range is clamped and sets errno to
// ERANGE. The core strtol and strtoul keep their own rules.
#include <errno.h>
#include <limits.h>
#include <stdlib.h>

namespace {

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if ((c | 32) >= 'a' && (c | 32) <= 'z') return (c | 32) - 'a' + 10;
  return 99;
}

// The magnitude (ULLONG_MAX when it does not fit), its sign and whether it
// overflowed; *end past the digits, or at s when there were none.
unsigned long long parse(const char *s, char **end, int base, bool &negative, bool &over) {
  const char *p = s;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if ((base == 0 || base == 16) && p[0] == '0' && (p[1] | 32) == 'x' && digit_value(p[2]) < 16) {
    p += 2;
    base = 16;
  } else if (base == 0) {
    base = *p == '0' ? 8 : 10;
  }
  unsigned long long value = 0;
  const char *first = p;
  over = false;
  if (base >= 2 && base <= 36) {
    for (int d; (d = digit_value(*p)) < base; ++p) {
      if (value > (ULLONG_MAX - unsigned(d)) / unsigned(base)) over = true;
      value = over ? ULLONG_MAX : value * unsigned(base) + unsigned(d);
    }
  }
  if (end) *end = const_cast<char *>(p == first ? s : p);
  return value;
}

} // namespace

extern "C" {

long long strtoll(const char *s, char **end, int base) {
  bool negative, over;
  unsigned long long magnitude = parse(s, end, base, negative, over);
  unsigned long long limit = negative ? 0x8000000000000000ull : LLONG_MAX;
  if (over || magnitude > limit) {
    errno = ERANGE;
    return negative ? LLONG_MIN : LLONG_MAX;
  }
  return negative ? (long long)(0 - magnitude) : (long long)magnitude;
}

unsigned long long strtoull(const char *s, char **end, int base) {
  bool negative, over;
  unsigned long long magnitude = parse(s, end, base, negative, over);
  if (over) {
    errno = ERANGE;
    return ULLONG_MAX;
  }
  return negative ? 0 - magnitude : magnitude;
}

long long atoll(const char *s) {
  return strtoll(s, nullptr, 10);
}

long long llabs(long long x) {
  return x < 0 ? -x : x;
}

div_t div(int a, int b) {
  return {a / b, a % b};
}

ldiv_t ldiv(long a, long b) {
  return {a / b, a % b};
}

lldiv_t lldiv(long long a, long long b) {
  return {a / b, a % b};
}

} // extern "C"
