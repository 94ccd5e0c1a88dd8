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

// value × factor, `steps` times, stopping once nothing can change any more.
long double scale(long double value, float factor, int32_t steps) {
  for (; steps > 0 && value != 0 && value - value == 0; --steps) value *= factor;
  return value;
}

long double scale_down_by_ten(long double value, int32_t steps) {
  for (; steps > 0 && value != 0 && value - value == 0; --steps) value /= ten;
  return value;
}

long double decimal(const char *&p) {
  long double value = 0;
  for (int32_t d; (d = decimal_digit(*p)) >= 0; ++p) value = value * ten + d;
  if (*p == '.') {
    ++p;
    int32_t count = 0;
    for (int32_t d; (d = decimal_digit(*p)) >= 0; ++p) {
      if (count < max_fraction_digits) {
        value = value * ten + d;
        ++count;
      }
    }
    // Exactly `count` divisions, as many as digits entered the value.
    for (; count > 0; --count) value /= ten;
  }
  int32_t exponent;
  bool negative;
  if ((*p == 'e' || *p == 'E') && read_exponent(p, exponent, negative))
    value = negative ? scale_down_by_ten(value, exponent) : scale(value, ten, exponent);
  return value;
}

// Returns false when no hexadecimal digit follows the prefix.
bool hexadecimal(const char *&p, long double &value) {
  bool any = false;
  value = 0;
  for (int32_t d; (d = hex_digit(*p)) >= 0; ++p, any = true) value = value * sixteen + d;
  if (*p == '.') {
    ++p;
    int32_t count = 0;
    for (int32_t d; (d = hex_digit(*p)) >= 0; ++p, any = true) {
      if (count < max_fraction_digits) {
        value = value * sixteen + d;
        ++count;
      }
    }
    for (; count > 0; --count) value *= one_sixteenth;
  }
  if (!any) return false;
  int32_t exponent;
  bool negative;
  if ((*p == 'p' || *p == 'P') && read_exponent(p, exponent, negative)) {
    if (negative) {
      value = scale(value, half, exponent);
    } else {
      for (; exponent > 0 && value - value == 0; --exponent) value += value;
    }
  }
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
