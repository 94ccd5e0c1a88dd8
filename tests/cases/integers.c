/* Integer parsing, value and end position for every class of input, and
   errno left alone. */
#include "check.h"
#include <errno.h>
#include <stdlib.h>

static const struct {
  const char *text;
  int base;
  unsigned long value;
  int end;
} strtoul_cases[] = {
    {"0x1A", 0, 26, 4},
    {"017", 0, 15, 3},
    {"09", 0, 0, 1},
    {"0x", 0, 0, 2},
    {"0x", 16, 0, 2},
    {"0xg", 0, 0, 2},
    {"-5", 10, 0, 0},
    {"+5", 0, 0, 0},
    {"4294967295", 10, 4294967295u, 10},
    {"4294967296", 10, 0, 10},
    {"ff", 36, 555, 2},
    {"g", 36, 0, 0},
    {"100", 1, 0, 0},
    {"000", 1, 0, 3},
    {" \t12", -5, 0, 2},
    {"\v7", 10, 0, 0},
    {"\f7", 10, 0, 0},
};

static const struct {
  const char *text;
  int value;
} atoi_cases[] = {
    {"2147483648", -2147483647 - 1},
    {"-2147483648", -2147483647 - 1},
    {"4294967297", 1},
    {"\v9", 0},
    {"\r\n7", 0},
};

CASE(strtoul_strtol) {
  errno = 77;
  for (unsigned i = 0; i < sizeof strtoul_cases / sizeof strtoul_cases[0]; ++i) {
    const char *t = strtoul_cases[i].text;
    char *end = NULL, *end2 = NULL;
    CHECK_ROW(t, strtoul(t, &end, strtoul_cases[i].base), strtoul_cases[i].value);
    CHECK_ROW(t, end - t, strtoul_cases[i].end);
    CHECK_ROW(t, strtol(t, &end2, strtoul_cases[i].base), (long)(int)strtoul_cases[i].value);
    CHECK_ROW(t, end2 - t, strtoul_cases[i].end);
    CHECK_ROW(t, strtoul(t, NULL, strtoul_cases[i].base), strtoul_cases[i].value);
  }
  char *end = (char *)1;
  CHECK(strtoul(NULL, &end, 10) == 0 && end == NULL);
  CHECK(strtol(NULL, NULL, 10) == 0);
  CHECK_EQ(errno, 77);
}

CASE(atoi_atol) {
  errno = 77;
  for (unsigned i = 0; i < sizeof atoi_cases / sizeof atoi_cases[0]; ++i) {
    CHECK_ROW(atoi_cases[i].text, atoi(atoi_cases[i].text), atoi_cases[i].value);
    CHECK_ROW(atoi_cases[i].text, atol(atoi_cases[i].text), atoi_cases[i].value);
  }
  CHECK(atoi(NULL) == 0 && atol(NULL) == 0);
  CHECK_EQ(errno, 77);
}
