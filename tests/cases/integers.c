/* Integer parsing, value and end position for every class of input the
   numbers fuzzer does not compare with the host (signs, wrap-around, \v and
   \f, bases outside 2 to 16), and errno left alone. */
#include "check.h"
#include <errno.h>
#include <stdlib.h>

static const struct {
  const char *text;
  int base;
  unsigned long value;
  int end;
} rows[] = {
    {"017", 0, 15, 3},   {"09", 0, 0, 1},   {"0x", 0, 0, 2},   {"0x", 16, 0, 2},
    {"0xg", 0, 0, 2},    {"-5", 10, 0, 0},  {"+5", 0, 0, 0},   {"4294967296", 10, 0, 10},
    {"ff", 36, 555, 2},  {"g", 36, 0, 0},   {"100", 1, 0, 0},  {"000", 1, 0, 3},
    {" \t12", -5, 0, 2}, {"\v7", 10, 0, 0}, {"\f7", 10, 0, 0},
};

CASE(strtoul_strtol) {
  errno = 77;
  for (unsigned i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    const char *t = rows[i].text;
    char *end = NULL, *end2 = NULL;
    CHECK_ROW(t, strtoul(t, &end, rows[i].base), rows[i].value);
    CHECK_ROW(t, strtol(t, &end2, rows[i].base), (long)(int)rows[i].value);
    CHECK_ROW(t, (end - t) * 100 + (end2 - t), rows[i].end * 101);
  }
  char *end = (char *)1;
  CHECK(strtoul(NULL, &end, 10) == 0 && end == NULL && strtoul("12", NULL, 10) == 12);
  CHECK(atoi("4294967297") == 1 && atol("-2147483648") == -2147483647 - 1);
  CHECK(atoi("2147483648") == -2147483647 - 1 && atoi("\v9") == 0 && atol("\r\n7") == 0);
  CHECK(atoi(NULL) == 0 && atol(NULL) == 0 && errno == 77);
}
