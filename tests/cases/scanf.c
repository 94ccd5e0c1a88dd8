/* The scan engine, one row per case: the text, the format, the result and
   what each destination holds afterwards. Every conversion gets a slot of
   its own, filled with 0x55 bytes before the call. */
#include "check.h"
#include <stdio.h>
#include <string.h>

union slot {
  int i;
  char c;
  char s[24];
};

/* What a slot must hold: "d-7" an int, "cx" one byte, "sabc" a string, "-"
   nothing stored. */
static int holds(const union slot *s, const char *want) {
  char text[24];
  union slot untouched;
  memset(&untouched, 0x55, sizeof untouched);
  switch (want[0]) {
  case 'd':
    snprintf(text, sizeof text, "%d", s->i);
    return strcmp(text, want + 1) == 0;
  case 'c':
    return s->c == want[1] && memcmp(s->s + 1, untouched.s + 1, sizeof s->s - 1) == 0;
  case 's':
    return strcmp(s->s, want + 1) == 0;
  default:
    return memcmp(s, &untouched, sizeof *s) == 0;
  }
}

static const struct {
  const char *text, *format;
  int result;
  const char *slots[3];
} rows[] = {
    /* signed integers */
    {"\n42", "%d", 0, {"-"}},
    {"\n42", " %d", 1, {"d42"}},
    {"4294967295", "%d", 1, {"d-1"}},
    {"12345", "%2d", 1, {"d12345"}},
    {"0x1f", "%i", 1, {"d31"}},
    {"017", "%i", 1, {"d15"}},
    {"09", "%i%d", 2, {"d0", "d9"}},
    {"0x", "%i", 0, {"-"}},
    {"-0X10", "%i", 1, {"d-16"}},
    {"0x1f", "%x%c", 2, {"d0", "cx"}},
    {"-ff", "%X", 1, {"d-255"}},
    {"FFFFFFFF1", "%x", 1, {"d-15"}},
    /* unsigned */
    {"-5", "%u", 0, {"-"}},
    {"4294967295", "%u", 1, {"d-1"}},
    {"  7a", "%u%c", 2, {"d7", "ca"}},
    /* bytes and words */
    {"a\nb", "%s%s", 2, {"sa", "s"}},
    {"abc", "%0s", 1, {"sabc"}},
    {"abcdef", "%*3s%s", 1, {"sdef"}},
    /* suppression, literals and the end of the scan */
    {"5", "%5*d", 0, {"-"}},
    {"100%", "%d%%", 1, {"d100"}},
    {"%5", "%*5%%d", 1, {"d5"}},
    {"5", "%ld", 0, {"-"}},
    {"5 6", "%d %n%d", 1, {"d5", "-"}},
    {"5", "%d%", 1, {"d5"}},
    {"x 1", "x\t\n %d", 1, {"d1"}},
};

CASE(directives) {
  for (unsigned i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    union slot s[3];
    memset(s, 0x55, sizeof s);
    CHECK_ROW(rows[i].format, sscanf(rows[i].text, rows[i].format, &s[0], &s[1], &s[2]),
              rows[i].result);
    for (int k = 0; k < 3 && rows[i].slots[k]; ++k)
      CHECK_ROW(rows[i].slots[k], holds(&s[k], rows[i].slots[k]), 1);
  }
}

/* A width bounds a word also when nothing is stored, and wraps at 2^32. */
CASE(width_bounds_words) {
  char w[8], rest[8];
  CHECK(sscanf("abcdefgh", "%3s%s", (char *)NULL, rest) == 1 && strcmp(rest, "defgh") == 0);
  CHECK(sscanf("abc", "%s", (char *)NULL) == 0);
  CHECK(sscanf("4294967297abc", "%4294967297s", w) == 1 && strcmp(w, "4") == 0);
}
