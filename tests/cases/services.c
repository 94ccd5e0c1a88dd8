/* The generator, the error texts, abs, atexit and getenv. */
#include "check.h"
#include <errno.h>
#include <stdlib.h>
#include <string.h>

static void handler(void) {}

CASE(generator) {
  static const int one[] = {16838, 5758, 10113, 17515, 31051}, forty_two[] = {19081, 17033, 15269};
  int first = rand(); /* seeds itself */
  CHECK(first >= 0 && first <= RAND_MAX);
  for (int seed = 0; seed < 2; ++seed) {
    srand((unsigned)seed); /* 0 seeds as 1 does */
    for (int i = 0; i < 5; ++i) CHECK_ROW("srand(0 and 1)", rand(), one[i]);
  }
  srand(42);
  for (int i = 0; i < 3; ++i) CHECK_ROW("srand(42)", rand(), forty_two[i]);
  for (int i = 0; i < 1000; ++i) {
    int r = rand();
    CHECK(r >= 0 && r <= 32767);
  }
}

CASE(texts_and_values) {
  CHECK(!strcmp(strerror(0), "ok") && !strcmp(strerror(2), "no such file"));
  CHECK(!strcmp(strerror(22), "invalid argument") && !strcmp(strerror(38), "not implemented"));
  CHECK(!strcmp(strerror(12), "error") && !strcmp(strerror(-2147483647 - 1), "error"));
  CHECK(strerror(7) == strerror(7) && strerror(0) == strerror(0)); /* the same text each time */
  CHECK_EQ(errno, 0); /* nothing but the heap sets it */
  CHECK(malloc(1u << 20) == NULL && errno == ENOMEM && malloc(1) != NULL && errno == ENOMEM);
  CHECK(abs(-5) == 5 && labs(-5) == 5 && abs(0) == 0 && abs(7) == 7);
  CHECK(abs(-2147483647 - 1) == -2147483647 - 1 && labs(-2147483647L - 1) == -2147483647L - 1);
  CHECK(atexit(handler) == 0 && atexit(NULL) == 0);
  CHECK(getenv("PATH") == NULL && getenv("") == NULL && getenv(NULL) == NULL);
}
