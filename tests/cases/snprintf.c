/* The buffer formatter where it differs from the host library's (which the
   formatters fuzzer compares it with on the formats they share, at random
   bounds between guard bytes). Arguments are passed as pointer-sized words:
   an int argument reads the low half of its word on x86-64, and on i386
   they are the same. */
#include "check.h"
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#define GUARD 0x5a
#define PAD 8
#define S(s) ((intptr_t)(s))

struct format_case {
  const char *format;
  intptr_t a, b, c, d;
  const char *text; /* the whole text the format yields */
  size_t text_len;  /* when the text holds a NUL; else 0 */
};

static const struct format_case basic[] = {
    {"%.0d", 0, 0, 0, 0, "0"},
    {"%5.0d", 0, 0, 0, 0, "    0"},
    {"%*d", -6, 42, 0, 0, "42"},
    {"%p", 0, 0, 0, 0, "0x0"},
    {"%20p|%-20p|%020p|%.8p", 0x12, 0x12, 0x12, 0x12, "0x12|0x12|0x12|0x12"},
    {"%5c|%-5c|", 'A', 'A', 0, 0, "A|A|"},
    {"a%cb", 0, 0, 0, 0, "a\0b", 3},
    {"%c", 0x141, 0, 0, 0, "A"},
    {"%010s", S("abc"), 0, 0, 0, "       abc"},
    {"%5.0s|", S("abc"), 0, 0, 0, "     |"},
    {"%+s", S("x"), 0, 0, 0, "x"},
    {"%s", 0, 0, 0, 0, "(null)"},
    {"%.3s", 0, 0, 0, 0, "(nu"},
    {"%%|%5%|%-05%", 0, 0, 0, 0, "%|%|%"},
    {"%o%5o%f%e%g%n%q", 1, 2, 3, 4, "%o%o%f%e%g%n%q"},
    {"%hd|%hhd|%jd|%td|%Lf", 1, 0, 0, 0, "%hd|%hhd|%jd|%td|%Lf"},
    {"% d|%#x", 5, 5, 0, 0, "% d|%#x"},
    {"%5-d", 5, 0, 0, 0, "%-d"},
    {"%*5d|", 3, 0, 0, 0, "%5d|"},
    {"%ld|%lld|%zd", -5, 7, 8, 0, "-5|7|8"},
    {"%llX|%lx|%zx", 0xab, 0xcd, 0xef, 0, "AB|cd|ef"},
    {"%lzd|%zld", 1, 2, 0, 0, "%zd|%ld"},
    {"abc%", 0, 0, 0, 0, "abc"},
    {"abc%z", 0, 0, 0, 0, "abc"},
    {"", 0, 0, 0, 0, ""},
    {"%4294967302d|", 5, 0, 0, 0, "     5|"}, /* the width digits wrap modulo 2^32 */
};

CASE(formats) {
  for (size_t i = 0; i < sizeof basic / sizeof basic[0]; ++i) {
    const struct format_case *c = &basic[i];
    char buf[64];
    size_t len = c->text_len ? c->text_len : strlen(c->text);
    CHECK_ROW(c->format, snprintf(buf, sizeof buf, c->format, c->a, c->b, c->c, c->d), len);
    CHECK_ROW(c->format, memcmp(buf, c->text, len + 1), 0);
  }
}

CASE(measuring) {
  char b[4] = "xyz";
  /* A null buffer receives nothing; a null format gives 0 and an empty text. */
  CHECK(snprintf(NULL, 0, "%5d|%s", 42, "abc") == 9 && snprintf(NULL, 10, "abc") == 3);
  CHECK(snprintf(b, 0, "hello") == 5 && strcmp(b, "xyz") == 0);
  CHECK(snprintf(b, sizeof b, NULL) == 0 && b[0] == 0);
  b[0] = 'q';
  CHECK(snprintf(NULL, 5, NULL) == 0 && snprintf(b, 0, NULL) == 0 && b[0] == 'q');
  /* With a precision only that many bytes of a string are looked at. */
  static const char raw[3] = {'a', 'b', 'c'};
  CHECK(snprintf(b, sizeof b, "%.3s|%.2s", raw, raw) == 6 && strcmp(b, "abc") == 0);
}

static unsigned char area[PAD + 64 + PAD];

/* Two fills of 2^31 - 1 bytes: the count no longer wraps, nothing is stored
   in front of the buffer, and the result saturates. */
CASE(huge_count) {
  memset(area, GUARD, sizeof area);
  char *b = (char *)area + PAD;
  CHECK_EQ(snprintf(b, 16, "%*d%*dXYZ", 0x7fffffff, 1, 0x7fffffff, 1), 2147483647);
  for (size_t i = 0; i < sizeof area; ++i)
    CHECK_ROW("byte", area[i], i < PAD || i > PAD + 15 ? GUARD : i == PAD + 15 ? 0 : ' ');
  CHECK(snprintf(NULL, 0, "%*d", 0x7fffffff, 1) == 2147483647);
  CHECK(snprintf(NULL, 0, "%.*d", 0x7fffffff, 1) == 2147483647);
  CHECK(snprintf(NULL, 0, "%*d|", 0x7fffffff, 1) == 2147483647);
}

static char big[70000];

static int call_vsprintf(char *buf, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = vsprintf(buf, format, ap);
  va_end(ap);
  return r;
}

/* sprintf and vsprintf write at most 65,536 bytes, the NUL included. */
CASE(sprintf_bound) {
  CHECK(sprintf(big, "%d-%s", -12, "ab") == 6 && strcmp(big, "-12-ab") == 0);
  memset(big, 'q', sizeof big);
  CHECK(sprintf(big, "%65535s", "x") == 65535);
  CHECK(big[65533] == ' ' && big[65534] == 'x' && big[65535] == 0);
  memset(big, 'q', sizeof big);
  CHECK(call_vsprintf(big, "%66000s", "x") == 66000);
  CHECK(big[65534] == ' ' && big[65535] == 0 && big[65536] == 'q');
}
