/* strtold's value bits and end under several control words (strtod, being
   strtold rounded, is the numbers fuzzer's). Each value is exact or one
   rounding of an exact quotient: the compiler's literal is the oracle. */
#include "check.h"
#include <math.h>
#include <stdlib.h>
#include <string.h>

static unsigned short control_word(void) {
  unsigned short cw;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

static void set_control_word(unsigned short cw) {
  __asm__ volatile("fldcw %0" : : "m"(cw));
}

/* Round to nearest, to double and single precision, down and up. */
enum { near = 0x037f, dbl = 0x027f, sgl = 0x007f, down = 0x077f, up = 0x0b7f };

/* The 0.1 that one division rounded down and up gives (64-bit significand);
   a negative number rounds its magnitude, so "-0.1" rounded up is -TENTH_UP. */
#define TENTH_DOWN 0xCCCCCCCCCCCCCCCCp-67L
#define TENTH_UP 0xCCCCCCCCCCCCCCCDp-67L

static const struct {
  unsigned short cw;
  const char *text;
  int end;
  long double value;
} rows[] = {
    {near, "  -2.5e3x", 8, -2500.0L},
    {near, "\v\f\r\n\t 7", 7, 7.0L},
    {near, "+.5", 3, 0.5L},
    {near, "inf", 0, 0.0L},
    {near, "12.e3", 5, 12000.0L},
    {near, "1E5", 3, 100000.0L},
    {near, "0x.8", 4, 0.5L},
    {near, "0x1P3", 5, 8.0L},
    {near, "0x1.8p1z", 7, 3.0L},
    {near, "0x1e3", 5, 483.0L},
    {near, "0xA.bCp0", 8, 0xA.bCp0L},
    {near, "-0", 2, -0.0L},
    {near, "12.5e-2", 7, 0.125L},
    {near, "0.1", 3, TENTH_UP},
    {near, "0x1p-16445", 10, 0x1p-16445L},
    {near, "0x1p-16446", 10, 0.0L},
    {near, "0x1p-99999999", 13, 0.0L},
    {dbl, "0.1", 3, (long double)0.1},
    {sgl, "0.1", 3, (long double)0.1f},
    {down, "0.1", 3, TENTH_DOWN},
    {up, "0.1", 3, TENTH_UP},
    {up, "-0.1", 4, -TENTH_UP},
};

CASE(strtold_values) {
  unsigned short before = control_word();
  for (unsigned i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    char *end = NULL;
    set_control_word(rows[i].cw);
    long double v = strtold(rows[i].text, &end);
    CHECK_ROW(rows[i].text, control_word(), rows[i].cw);
    set_control_word(before);
    CHECK_ROW(rows[i].text, memcmp(&v, &rows[i].value, 10), 0);
    CHECK_ROW(rows[i].text, end - rows[i].text, rows[i].end);
  }
  char *end = (char *)1;
  long double zero = strtold(NULL, &end), positive_zero = 0.0L;
  CHECK(end == NULL && memcmp(&zero, &positive_zero, 10) == 0);
}

/* A text of `n` fraction digits, all '0' but the last, which is `last`. */
static const char *fraction(const char *prefix, int n, char last) {
  static char text[1200];
  size_t len = strlen(prefix);
  memcpy(text, prefix, len);
  memset(text + len, '0', (size_t)n);
  text[len + (size_t)n - 1] = last;
  text[len + (size_t)n] = 0;
  return text;
}

/* The exponent scaling reaches the whole extended range, and fraction digits
   past the 1024th are consumed without entering the value. */
CASE(long_texts) {
  long double v = strtold("1e4096", NULL);
  CHECK(v > 1e4095L && v < 1e4097L && strtold("-1e-99999", NULL) == 0.0L);
  char *end;
  const char *t = fraction("1.", 1100, '0');
  v = strtold(t, &end);
  CHECK(v > 0.999999999L && v < 1.000000001L && end == t + 1102);
  CHECK(strtold(fraction("0x0.", 1024, '8'), NULL) == 0x1p-4093L);
  CHECK(strtold(fraction("0x0.", 1025, '8'), &end) == 0.0L && *end == 0);
  CHECK(strtold(fraction("0.", 1024, '5'), NULL) > 0.0L);
  CHECK(strtold(fraction("0.", 1025, '5'), &end) == 0.0L && *end == 0);
}

static int bits_equal(double a, double b) {
  return memcmp(&a, &b, sizeof a) == 0;
}

/* The mathematical functions beyond the core runtime, exact in both
   builds (the kivos one computes through the x87 unit). */
CASE(mathematics) {
  int e = 0;
  double whole = 0;
  CHECK(bits_equal(floor(-0.5), -1.0) && bits_equal(ceil(-0.5), -0.0) &&
        bits_equal(trunc(-1.7), -1.0));
  CHECK(round(2.5) == 3 && round(-2.5) == -3 && bits_equal(round(0.49999999999999994), 0.0));
  CHECK(fmod(1e300, 7.0) == 1.0 && fmod(-5.5, 2.0) == -1.5 && isnan(fmod(1.0, 0.0)));
  CHECK(bits_equal(fmod(-0x1p-1070, 0x1.8p-1073), -0x1p-1074));
  CHECK(bits_equal(sqrt(2.0), 0x1.6a09e667f3bcdp+0) && isnan(sqrt(-1.0)) && isinf(HUGE_VAL));
  CHECK(bits_equal(ldexp(0.75, -1074), 0x1p-1074) && ldexp(1.0, 1024) == INFINITY);
  CHECK(frexp(8.0, &e) == 0.5 && e == 4 && modf(-2.5, &whole) == -0.5 && whole == -2.0);
}
