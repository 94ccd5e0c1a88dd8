// Floating-point parsing on the x87 unit: the value is built digit by digit
// in the 80-bit format and scaled by repeated multiplication or division,
// every step rounded as the control word says (the code never changes it).
// Not correctly rounded, by design; the sign comes last, by one
// multiplication, so "-0" is a negative zero.
#include <stdint.h>
#include <stdlib.h>

namespace {

// The scaling constants, all exact in single precision.
constexpr float ten = 10.0f, sixteen = 16.0f, one_sixteenth = 0.0625f, half = 0.5f;

// Fraction digits past this many are consumed without entering the value,
// so that the value and its scaling always agree.
constexpr int32_t max_fraction_digits = 1024;
// Enough steps to take any finite extended value to zero or infinity.
constexpr int32_t max_exponent = 40000;

int32_t decimal_digit(char c) {
  return c >= '0' && c <= '9' ? c - '0' : -1;
}

int32_t hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  char l = char(c | 0x20);
  return l >= 'a' && l <= 'f' ? l - 'a' + 10 : -1;
}

bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads an exponent after its marker at *p ('e' or 'p'): an optional sign and
// at least one decimal digit, or nothing is consumed. Every digit is
// consumed; the value saturates at max_exponent.
bool read_exponent(const char *&p, int32_t &exponent, bool &negative) {
  const char *q = p + 1;
  negative = *q == '-';
  if (*q == '-' || *q == '+') ++q;
  if (decimal_digit(*q) < 0) return false;
  exponent = 0;
  for (int32_t d; (d = decimal_digit(*q)) >= 0; ++q) {
    exponent = exponent * 10 + d;
    if (exponent > max_exponent) exponent = max_exponent;
  }
  p = q;
  return true;
}

// Applies step `steps` times, each rounded, stopping once nothing can change
// any more: zero and infinity stay what they are.
template <typename Step> long double repeat(long double value, int32_t steps, Step step) {
  for (; steps > 0 && value != 0 && value - value == 0; --steps) value = step(value);
  return value;
}

// Reads the digits at p into value (value × base + digit, each step
// rounded); returns how many entered it. Past `limit` of them, digits are
// consumed without entering, so that the value and its scaling agree.
template <typename Digit>
int32_t read_digits(const char *&p, Digit digit, float base, int32_t limit, long double &value) {
  int32_t count = 0;
  for (int32_t d; (d = digit(*p)) >= 0; ++p) {
    if (count < limit) {
      value = value * base + d;
      ++count;
    }
  }
  return count;
}

long double decimal(const char *&p) {
  long double value = 0;
  read_digits(p, decimal_digit, ten, INT32_MAX, value);
  if (*p == '.') {
    ++p;
    int32_t count = read_digits(p, decimal_digit, ten, max_fraction_digits, value);
    value = repeat(value, count, [](long double v) { return v / ten; });
  }
  int32_t exponent;
  bool negative;
  if ((*p == 'e' || *p == 'E') && read_exponent(p, exponent, negative))
    value = negative ? repeat(value, exponent, [](long double v) { return v / ten; })
                     : repeat(value, exponent, [](long double v) { return v * ten; });
  return value;
}

// Returns false when no hexadecimal digit follows the prefix.
bool hexadecimal(const char *&p, long double &value) {
  const char *start = p;
  value = 0;
  read_digits(p, hex_digit, sixteen, INT32_MAX, value);
  bool any = p != start;
  if (*p == '.') {
    const char *fraction = ++p;
    int32_t count = read_digits(p, hex_digit, sixteen, max_fraction_digits, value);
    any = any || p != fraction;
    value = repeat(value, count, [](long double v) { return v * one_sixteenth; });
  }
  if (!any) return false;
  int32_t exponent;
  bool negative;
  if ((*p == 'p' || *p == 'P') && read_exponent(p, exponent, negative))
    value = negative ? repeat(value, exponent, [](long double v) { return v * half; })
                     : repeat(value, exponent, [](long double v) { return v + v; });
  return true;
}

} // namespace

extern "C" {

long double strtold(const char *s, char **end) {
  if (!s) {
    if (end) *end = nullptr;
    return 0;
  }
  const char *p = s;
  while (is_space(*p)) ++p;
  int sign = *p == '-' ? -1 : 1;
  if (*p == '-' || *p == '+') ++p;
  long double value = 0;
  if (p[0] == '0' && (p[1] | 0x20) == 'x') {
    p += 2;
    if (!hexadecimal(p, value)) p = s;
  } else if (decimal_digit(*p) >= 0 || (*p == '.' && decimal_digit(p[1]) >= 0)) {
    value = decimal(p);
  } else {
    p = s;
  }
  if (end) *end = const_cast<char *>(p);
  if (p == s) return 0;
  return value * sign;
}

double strtod(const char *s, char **end) {
  return double(strtold(s, end));
}

} // extern "C"
