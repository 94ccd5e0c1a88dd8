/* The string and memory primitives: results, guards and the first page.
   A pointer in the first page must never be read; reading it would fault
   (or, in the host build, be caught by the address sanitizer). */
#include "check.h"
#include <stdio.h>
#include <string.h>

#define P(v) ((const char *)(unsigned long)(v))

static void lengths(int c, char **v) {
  CHECK_EQ(strlen(NULL), 0);
  CHECK_EQ(strlen(P(1)), 0);
  CHECK_EQ(strlen(P(4095)), 0);
  CHECK_EQ(strlen(""), 0);
  CHECK_EQ(strlen("abc"), 3);
  CHECK_EQ(strnlen("abc", 2), 2);
  CHECK_EQ(strnlen("abc", 3), 3);
  CHECK_EQ(strnlen("abc", 10), 3);
  CHECK_EQ(strnlen(P(4095), 10), 0);
  CHECK_EQ(strnlen(P(4096), 0), 0); /* max 0 reads nothing, not even a mapped-looking pointer */
  char unterminated[3] = {'x', 'y', 'z'};
  CHECK_EQ(strnlen(unterminated, 3), 3);
}

static void comparisons(int c, char **v) {
  CHECK_EQ(strcmp(NULL, NULL), 0);
  CHECK_EQ(strcmp(P(5), P(5)), 0);
  CHECK_EQ(strcmp(NULL, "x"), -1);
  CHECK_EQ(strcmp("x", NULL), 1);
  CHECK_EQ(strcmp(NULL, P(5)), -1);
  CHECK_EQ(strcmp(P(5), P(6)), -1);
  CHECK_EQ(strcmp(P(6), P(5)), -1);
  CHECK_EQ(strcmp("abc", "abd"), -1);
  CHECK_EQ(strcmp("ab", "abc"), -99);
  CHECK_EQ(strcmp("", "x"), -120);
  CHECK_EQ(strcmp("abc", "abc"), 0);
  CHECK_EQ(strcmp("\xff", "a"), 158);
  CHECK_EQ(strncmp(NULL, "x", 0), 0);
  CHECK_EQ(strncmp(NULL, "x", 1), -1);
  CHECK_EQ(strncmp("x", P(7), 1), 1);
  CHECK_EQ(strncmp(P(9), P(9), 4), 0);
  CHECK_EQ(strncmp("abc", "abd", 2), 0);
  CHECK_EQ(strncmp("abc", "abd", 3), -1);
  CHECK_EQ(strncmp("ab", "ab", 10), 0);
  CHECK_EQ(strncmp("ab", "abc", 3), -99);
  char a[2] = {'q', 'r'}, b[2] = {'q', 'r'};
  CHECK_EQ(strncmp(a, b, 2), 0); /* no byte past n is read */
}

static void memory(int c, char **v) {
  unsigned char x = 0x80, y = 0x01;
  CHECK_EQ(memcmp(&x, &y, 1), 127);
  CHECK_EQ(memcmp(&y, &x, 1), -127);
  CHECK_EQ(memcmp(NULL, NULL, 0), 0);
  CHECK_EQ(memcmp("a\0b", "a\0c", 3), -1);
  CHECK(memcpy(NULL, NULL, 0) == NULL);
  CHECK(memset(NULL, 1, (0)) == NULL);
  CHECK(memmove(NULL, NULL, 0) == NULL);
  char m[8] = "abcdef";
  CHECK(memmove(m + 2, m, 4) == m + 2);
  CHECK(memcmp(m, "ababcd", 6) == 0);
  memcpy(m, "abcdef", 7);
  memmove(m, m + 2, 4);
  CHECK(memcmp(m, "cdefef", 6) == 0);
  char f[6] = "zzzzz";
  CHECK(memset(f + 1, 0x141, 3) == f + 1);
  CHECK(memcmp(f, "zAAAz", 6) == 0);
  char d[5] = "....";
  CHECK(memcpy(d + 1, "xy", 2) == d + 1);
  CHECK(memcmp(d, ".xy.", 5) == 0);
}

static const struct probe_case cases[] = {
    {"lengths", lengths},
    {"comparisons", comparisons},
    {"memory", memory},
};

PROBE_SUITE(strings, cases);
