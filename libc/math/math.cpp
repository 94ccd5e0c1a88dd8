// The functions of <math.h> whose results can be exact here, beyond the
// core runtime: bit operations on the IEEE double, scaling by powers
// of two (exact), and fmod by exact subtractions instead of fprem, which
// this emulator computes through 53-bit doubles.
#include <math.h>
#include <stdint.h>
#include <string.h>

namespace {

uint64_t bits_of(double x) {
  uint64_t b;
  memcpy(&b, &x, sizeof b);
  return b;
}

double from_bits(uint64_t b) {
  double x;
  memcpy(&x, &b, sizeof x);
  return x;
}

constexpr uint64_t sign_bit = 1ull << 63;

int exponent_of(uint64_t b) {
  return int((b >> 52) & 0x7ff) - 1023;
}

} // namespace

extern "C" {

double fabs(double x) {
  return from_bits(bits_of(x) & ~sign_bit);
}

double trunc(double x) {
  uint64_t b = bits_of(x);
  int e = exponent_of(b);
  if (e >= 52) return x;                     // integral already, or not finite
  if (e < 0) return from_bits(b & sign_bit); // |x| < 1: a zero of x's sign
  return from_bits(b & ~((1ull << (52 - e)) - 1));
}

double floor(double x) {
  double t = trunc(x);
  return x < t ? t - 1.0 : t;
}

double ceil(double x) {
  double t = trunc(x);
  return x > t ? t + 1.0 : t;
}

// Halves away from zero; x - trunc(x) is exact, so 0.49999999999999994
// stays 0.
double round(double x) {
  double t = trunc(x), rest = x - t;
  return rest >= 0.5 ? t + 1.0 : rest <= -0.5 ? t - 1.0 : t;
}

double ldexp(double x, int n) {
  // In steps that each stay within the range of a double's exponent; each
  // product is exact but the last, which rounds once.
  if (n > 1023) {
    x *= 0x1p1023;
    n -= 1023;
    if (n > 1023) {
      x *= 0x1p1023;
      n = n - 1023 > 1023 ? 1023 : n - 1023;
    }
  } else if (n < -1022) {
    x *= 0x1p-969; // 2^-1022 * 2^53: no rounding on the way down
    n += 969;
    if (n < -1022) {
      x *= 0x1p-969;
      n = n + 969 < -1022 ? -1022 : n + 969;
    }
  }
  // Through memory: a result left in an x87 register keeps its wider range,
  // where a double overflows or becomes subnormal.
  return from_bits(bits_of(x * from_bits(uint64_t(0x3ff + n) << 52)));
}

double frexp(double x, int *exp) {
  uint64_t b = bits_of(x);
  int e = int((b >> 52) & 0x7ff);
  if (e == 0) { // zero, or subnormal: normalise first
    if (x == 0) return *exp = 0, x;
    x *= 0x1p54;
    b = bits_of(x);
    e = int((b >> 52) & 0x7ff) - 54;
  } else if (e == 0x7ff) {
    return *exp = 0, x;
  }
  *exp = e - 1022;
  return from_bits((b & ~(0x7ffull << 52)) | (0x3feull << 52));
}

double modf(double x, double *whole) {
  *whole = trunc(x);
  if (isinf(x)) return from_bits(bits_of(x) & sign_bit);
  // Exact; the fraction has x's sign, zero included (x - x would be +0).
  return from_bits(bits_of(x - *whole) | (bits_of(x) & sign_bit));
}

double fmod(double x, double y) {
  if (isnan(x) || isnan(y) || isinf(x) || y == 0) return NAN;
  if (isinf(y)) return x;
  double r = fabs(x), d = fabs(y);
  while (r >= d) { // subtract the largest d * 2^k that fits: exact every time
    int er, ed;
    frexp(r, &er);
    frexp(d, &ed);
    double step = ldexp(d, er - ed);
    if (step > r) step = ldexp(step, -1);
    r -= step;
  }
  return bits_of(x) & sign_bit ? -r : r;
}

// One instruction, rounded once to a double's precision.
double sqrt(double x) {
#if defined(__i386__)
  uint16_t control, narrow;
  __asm__ volatile("fnstcw %0" : "=m"(control));
  narrow = uint16_t((control & ~0x300) | 0x200); // 53-bit significands
  __asm__ volatile("fldcw %1\n\tfsqrt\n\tfldcw %2" : "+t"(x) : "m"(narrow), "m"(control));
#else
  __asm__("sqrtsd %1, %0" : "=x"(x) : "x"(x));
#endif
  return x;
}

} // extern "C"
