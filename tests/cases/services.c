/* The generator, the error texts, abs, atexit and getenv. */
#include "check.h"
#include <errno.h>
#include <stdlib.h>
#include <string.h>

static void handler(void) {}

CASE(generator) {
  static const int one[] = {16838, 5758, 10113, 17515, 31051};
  for (int seed = 0; seed < 2; ++seed) {
    srand((unsigned)seed); /* 0 seeds as 1 does */
    for (int i = 0; i < 5; ++i) CHECK_ROW("srand(0 and 1)", rand(), one[i]);
  }
}

CASE(texts_and_values) {
  CHECK(!strcmp(strerror(0), "ok") && !strcmp(strerror(2), "no such file"));
  CHECK(!strcmp(strerror(22), "invalid argument") && !strcmp(strerror(38), "not implemented"));
  CHECK(!strcmp(strerror(12), "error") && !strcmp(strerror(-2147483647 - 1), "error"));
  CHECK(abs(-5) == 5 && labs(-5) == 5 && abs(7) == 7 && abs(-2147483647 - 1) == -2147483647 - 1);
  CHECK(atexit(handler) == 0 && atexit(NULL) == 0);
  CHECK(getenv("PATH") == NULL && getenv("") == NULL && getenv(NULL) == NULL);
}
