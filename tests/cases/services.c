/* The generator, the error texts, abs, atexit and getenv. */
#include "check.h"
#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

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

/* getopt as POSIX reads options: bundles, attached and separate arguments,
   an unknown one, and "--" before an operand; inttypes.h's conversions. */
CASE(options) {
  char a0[] = "prog", a1[] = "-ab", a2[] = "-cvalue", a3[] = "-c", a4[] = "more", a5[] = "-x";
  char a6[] = "--", a7[] = "-a", seen[16] = {0}, *text;
  size_t len;
  char *words[] = {a0, a1, a2, a3, a4, a5, a6, a7, NULL};
  int n = 0, c;
  opterr = 0;
  while ((c = getopt(8, words, "abc:")) != -1) {
    seen[n++] = (char)c;
    if (c == 'c') seen[n++] = optarg[0];
  }
  CHECK(strcmp(seen, "abcvcm?") == 0 && optopt == 'x' && optind == 7);
  FILE *out = open_memstream(&text, &len); /* the stream formatter reads 64 bits */
  fprintf(out, "%" PRId64 " %" PRIx32, (long long)-5, (uint32_t)255);
  CHECK(strcmp(text, "-5 ff") == 0 && strtoimax("-9", NULL, 10) == -9);
}
