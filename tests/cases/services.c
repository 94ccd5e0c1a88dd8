/* The generator, the error texts, abs, atexit and getenv. */
#include "check.h"
#include <errno.h>
#include <stdlib.h>
#include <string.h>

static int ran;
static void handler(void) {
  ++ran;
}

/* The next n results of rand equal `want`. */
static void expect_sequence(const char *row, const int *want, int n) {
  for (int i = 0; i < n; ++i) CHECK_ROW(row, rand(), want[i]);
}

CASE(generator) {
  static const int one[] = {16838, 5758, 10113, 17515, 31051};
  static const int forty_two[] = {19081, 17033, 15269};
  int first = rand(); /* seeds itself */
  CHECK(first >= 0 && first <= RAND_MAX);
  srand(1);
  expect_sequence("srand(1)", one, 5);
  srand(0);
  expect_sequence("srand(0)", one, 5);
  srand(42);
  expect_sequence("srand(42)", forty_two, 3);
  srand(42);
  expect_sequence("srand(42) again", forty_two, 3);
  for (int i = 0; i < 1000; ++i) {
    int r = rand();
    CHECK(r >= 0 && r <= 32767);
  }
}

CASE(texts_and_values) {
  static const struct {
    int code;
    const char *text;
  } texts[] = {{0, "ok"},
               {2, "no such file"},
               {22, "invalid argument"},
               {38, "not implemented"},
               {12, "error"},
               {1, "error"},
               {-2, "error"},
               {-2147483647 - 1, "error"}};
  for (unsigned i = 0; i < sizeof texts / sizeof texts[0]; ++i)
    CHECK_ROW(texts[i].text, strcmp(strerror(texts[i].code), texts[i].text), 0);
  CHECK(strerror(7) == strerror(7) && strerror(0) == strerror(0));
  CHECK_EQ(errno, 0); /* nothing but the heap sets it */
  CHECK(malloc(1u << 20) == NULL && errno == ENOMEM && strcmp(strerror(errno), "error") == 0);
  CHECK(malloc(1) != NULL && errno == ENOMEM);
  CHECK(abs(-5) == 5 && labs(-5) == 5 && abs(0) == 0 && abs(7) == 7);
  CHECK(abs(-2147483647 - 1) == -2147483647 - 1 && labs(-2147483647L - 1) == -2147483647L - 1);
  CHECK(atexit(handler) == 0 && atexit(NULL) == 0 && ran == 0);
  CHECK(getenv("PATH") == NULL && getenv("") == NULL && getenv(NULL) == NULL);
}
