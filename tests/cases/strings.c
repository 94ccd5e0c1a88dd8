/* The string functions beyond what the strings fuzzer compares with the
   host's: null pointers and the first page (never read: it would fault),
   plain differences, exact blocks and guard bytes. */
#include "check.h"
#include <ctype.h>
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define P(v) ((char *)(uintptr_t)(v))
#define GUARD 0xa5

static unsigned char area[8 + 48 + 8];

/* A destination between guard bytes, starting with `initial` (or nothing). */
static char *dest(const char *initial) {
  memset(area, GUARD, sizeof area);
  if (initial) memcpy(area + 8, initial, strlen(initial) + 1);
  return (char *)area + 8;
}

/* The destination holds exactly these n bytes and the rest are guards. */
static int holds(const char *expect, size_t n) {
  for (size_t i = 0; i < sizeof area; ++i)
    if (area[i] != (i >= 8 && i - 8 < n ? (unsigned char)expect[i - 8] : GUARD)) return 0;
  return 1;
}

static uint32_t size_word(const char *p) {
  uint32_t w;
  memcpy(&w, p - 4, 4);
  return w;
}

CASE(lengths_and_comparisons) {
  char xyz[3] = {'x', 'y', 'z'}, qr[2] = {'q', 'r'};
  CHECK_EQ(strlen(NULL) + strlen(P(4095)) + strnlen(P(4095), 10) + strnlen(xyz, 3), 3);
  CHECK_EQ(strcmp(NULL, NULL) + strcmp(P(5), P(5)), 0);
  CHECK(strcmp(NULL, "x") == -1 && strcmp("x", NULL) == 1);
  CHECK_EQ(strcmp(NULL, P(5)) + strcmp(P(5), P(6)) + strcmp(P(6), P(5)), -3);
  CHECK(strcmp("ab", "abc") == -99 && strcmp("\xff", "a") == 158);
  CHECK_EQ(strncmp(NULL, "x", 0) + strncmp(P(9), P(9), 4) + strncmp(qr, qr, 2), 0);
  CHECK_EQ(strncmp(NULL, "x", 1), -1);
  CHECK_EQ(strncmp("x", P(7), 1), 1);
  CHECK(strcasecmp("[", "a") == -6 && strcasecmp("abc", "AB") == 99);
  CHECK_EQ(strcasecmp(NULL, NULL) + strncasecmp(NULL, NULL, 3) + strncasecmp(P(7), P(7), 3), 0);
  CHECK_EQ(strcasecmp(NULL, "x") + strncasecmp(NULL, "x", 3), -2);
  CHECK_EQ(strcasecmp("x", NULL) + strncasecmp("x", NULL, 3), 2);
}

CASE(memory) {
  unsigned char x = 0x80, y = 0x01;
  CHECK(memcmp(&x, &y, 1) == 127 && memcmp(&y, &x, 1) == -127 && memcmp("a\0b", "a\0c", 3) == -1);
  CHECK(!memcpy(NULL, NULL, 0) && !memset(NULL, 1, (0)) && !memmove(NULL, NULL, 0));
  char m[8] = "abcdef";
  CHECK(memmove(m, m + 2, 4) == m && memcmp(m, "cdefef", 6) == 0);
  char *d = dest("zzzzz");
  CHECK(memset(d + 1, 0x141, 3) == d + 1 && holds("zAAAz", 6));
}

CASE(copying_and_appending) {
  char xy[2] = {'x', 'y'};
  char *d = dest(NULL);
  CHECK(strncpy(dest(NULL), NULL, 5) == d && holds("\0\0\0\0\0", 5));
  CHECK(strcpy(dest(NULL), NULL) == d && holds("", 1));
  CHECK(!strncpy(NULL, "abc", 3) && !strcpy(NULL, "x") && !strcat(NULL, "x"));
  CHECK(strcat(dest("ab"), NULL) == d && holds("ab", 3));
  CHECK(strncat(dest("ab"), NULL, 4) == d && holds("ab", 3));
  CHECK(strcat(P(0x10), "x") == P(0x10) && strncat(P(0xfff), "x", 1) == P(0xfff));
  CHECK(strncat(dest("a"), xy, 2) == d && holds("axy", 4)); /* the source need not end */
}

CASE(searching) {
  const char *s = "abcabc";
  CHECK(strchr(s, 0x162) == s + 1 && strrchr(s, 0x100) == s + 6);
  CHECK(!strchr(NULL, 'a') && !strrchr(NULL, 'a'));
  CHECK(!strstr(NULL, "") && !strstr(s, NULL) && strstr("", "") != NULL);
}

CASE(duplication) {
  char xyz[3] = {'x', 'y', 'z'};
  char *a = strdup("hello"), *e = strdup("");
  CHECK(strcmp(a, "hello") == 0 && size_word(a) == 6 && e - a == 16 && size_word(e) == 1);
  CHECK(strdup(P(0x800))[0] == 0 && strndup(P(0x800), 5)[0] == 0);
  CHECK(!strdup(NULL) && !strndup(NULL, 4) && strcmp(strndup(xyz, 3), "xyz") == 0);
  /* The heap keeps exactly one 8-byte block, which the copy takes. */
  CHECK(malloc((1u << 20) - 12 - 48) != NULL && strcmp(strdup("abc"), "abc") == 0);
  errno = 0;
  CHECK(!strdup("x") && errno == ENOMEM && !strndup("x", 0) && !strndup(P(0x800), 3));
}

CASE(tokens) {
  char s[] = "abc def", first[] = "a-b c-d";
  CHECK(strtok(NULL, " ") == NULL && strtok(s, NULL) == s && !strtok(NULL, NULL));
  CHECK(strtok(s, "") == s && !strtok(NULL, "") && strcmp(strtok(first, "-"), "a") == 0);
  CHECK(strcmp(strtok(NULL, " "), "b") == 0); /* a new delimiter for the next token */
}

static int compare_ints(const void *a, const void *b) {
  return *(const int *)a - *(const int *)b;
}

/* What ordinary C programs expect beyond the core runtime. */
CASE(beyond_the_specification) {
  const char *s = "hello, world";
  char buf[8], text[] = "a,b;;c", *save, *rest = text;
  int v[] = {3, 1, 2}, key = 2;
  CHECK(memchr(s, 'o', 12) == s + 4 && memrchr(s, 'o', 12) == s + 8 && strpbrk(s, " ,") == s + 5);
  CHECK(strspn(s, "hel") == 4 && strcspn(s, ",") == 5 && strlcpy(buf, s, sizeof buf) == 12);
  CHECK(strcmp(buf, "hello, ") == 0 && strlcat(buf, "xyz", sizeof buf) == 10);
  CHECK(stpcpy(buf, "ab") == buf + 2 && strcmp(strsep(&rest, ",;"), "a") == 0);
  CHECK(strcmp(strtok_r(rest, ";", &save), "b") == 0 &&
        strcmp(strtok_r(NULL, ";", &save), "c") == 0);
  CHECK(isalpha('a') && !isalpha(0xe9) && !isspace(-1) && toupper('q') == 'Q' && isxdigit('F'));
  qsort(v, 3, sizeof *v, compare_ints);
  CHECK(v[0] == 1 && v[2] == 3 && bsearch(&key, v, 3, sizeof *v, compare_ints) == &v[1]);
}
