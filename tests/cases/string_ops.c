/* Copying, searching, duplication, case-insensitive comparison and
   tokenizing. Every destination lies between guard bytes, so a byte written
   where none may be fails the case. */
#include "check.h"
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define GUARD 0xa5
#define PAD 8
#define P(v) ((char *)(uintptr_t)(v))

struct region {
  unsigned char bytes[PAD + 48 + PAD];
};

/* A destination of guard bytes, optionally starting with a string. */
static char *dest(struct region *r, const char *initial) {
  memset(r->bytes, GUARD, sizeof r->bytes);
  char *d = (char *)r->bytes + PAD;
  if (initial) memcpy(d, initial, strlen(initial) + 1);
  return d;
}

/* The destination holds exactly these n bytes and every other byte of the
   region is still a guard byte. */
static int holds(const struct region *r, const char *expect, size_t n) {
  for (size_t i = 0; i < sizeof r->bytes; ++i) {
    size_t at = i - PAD;
    unsigned char want = i >= PAD && at < n ? (unsigned char)expect[at] : GUARD;
    if (r->bytes[i] != want) return 0;
  }
  return 1;
}

static void copying(int c, char **v) {
  struct region r;
  char *d = dest(&r, NULL);
  CHECK(strncpy(d, "abc", 2) == d && holds(&r, "ab", 2));
  d = dest(&r, NULL);
  CHECK(strncpy(d, "abc", 3) == d && holds(&r, "abc", 3));
  d = dest(&r, NULL);
  CHECK(strncpy(d, "abc", 4) == d && holds(&r, "abc", 4));
  d = dest(&r, NULL);
  static const char abc40[40] = "abc";
  CHECK(strncpy(d, "abc", 40) == d && holds(&r, abc40, 40));
  d = dest(&r, NULL);
  CHECK(strncpy(d, NULL, 5) == d && holds(&r, "\0\0\0\0\0", 5));
  d = dest(&r, NULL);
  CHECK(strncpy(d, "abc", 0) == d && holds(&r, "", 0));
  CHECK(strncpy(NULL, "abc", 3) == NULL);

  d = dest(&r, NULL);
  CHECK(strcpy(d, NULL) == d && holds(&r, "", 1));
  d = dest(&r, NULL);
  CHECK(strcpy(d, "hello") == d && holds(&r, "hello", 6));
  CHECK(strcpy(NULL, "x") == NULL);
}

static void appending(int c, char **v) {
  struct region r;
  char *d = dest(&r, "ab");
  CHECK(strcat(d, "cd") == d && holds(&r, "abcd", 5));
  d = dest(&r, "ab");
  CHECK(strcat(d, NULL) == d && holds(&r, "ab", 3));
  d = dest(&r, "");
  CHECK(strcat(d, "xyz") == d && holds(&r, "xyz", 4));
  CHECK(strcat(NULL, "x") == NULL);
  CHECK(strcat(P(0x10), "x") == P(0x10)); /* a first-page destination is left alone */

  d = dest(&r, "ab");
  CHECK(strncat(d, "cdef", 2) == d && holds(&r, "abcd", 5));
  d = dest(&r, "ab");
  CHECK(strncat(d, "cd", 9) == d && holds(&r, "abcd", 5));
  d = dest(&r, "ab");
  CHECK(strncat(d, "cd", 0) == d && holds(&r, "ab", 3));
  d = dest(&r, "ab");
  CHECK(strncat(d, NULL, 4) == d && holds(&r, "ab", 3));
  CHECK(strncat(NULL, "x", 1) == NULL);
  CHECK(strncat(P(0xfff), "x", 1) == P(0xfff));
  /* The source is read no further than n bytes: it need not end. */
  char unterminated[2] = {'x', 'y'};
  d = dest(&r, "a");
  CHECK(strncat(d, unterminated, 2) == d && holds(&r, "axy", 4));
}

static void searching(int c, char **v) {
  const char *s = "abcabc";
  CHECK(strchr(s, 'b') == s + 1);
  CHECK(strrchr(s, 'b') == s + 4);
  CHECK(strchr(s, 'z') == NULL);
  CHECK(strrchr(s, 'z') == NULL);
  CHECK(strchr(s, 0) == s + 6);
  CHECK(strrchr(s, 0) == s + 6);
  CHECK(strchr(s, 0x162) == s + 1);
  CHECK(strrchr(s, 0x162) == s + 4);
  CHECK(strchr(s, 0x100) == s + 6);
  CHECK(strrchr(s, 0x100) == s + 6);
  CHECK(strchr(NULL, 'a') == NULL);
  CHECK(strrchr(NULL, 'a') == NULL);
  CHECK(strchr("\xe4x", 0xe4) != NULL);

  const char *hay = "aaab";
  CHECK(strstr(hay, "aab") == hay + 1);
  CHECK(strstr(hay, "") == hay);
  CHECK(strstr("", "") != NULL);
  CHECK(strstr(NULL, "") == NULL);
  CHECK(strstr(hay, NULL) == NULL);
  CHECK(strstr(hay, "ba") == NULL);
  CHECK(strstr(hay, "aaabc") == NULL);
  CHECK(strstr(hay, "b") == hay + 3);
  CHECK(strstr("abcabd", "abd") == strchr("abcabd", 'd') - 2);
}

static uint32_t size_word(const char *p) {
  uint32_t w;
  memcpy(&w, p - 4, 4);
  return w;
}

static void duplication(int c, char **v) {
  char *a = strdup("hello");
  CHECK(a && strcmp(a, "hello") == 0);
  CHECK_EQ(size_word(a), 6);
  char *e = strdup("");
  CHECK(e && e[0] == 0);
  CHECK_EQ(size_word(e), 1);
  CHECK_EQ(e - a, 16); /* hello took a 16-byte block */
  CHECK(strdup(NULL) == NULL);
  char *f = strdup(P(0x800));
  CHECK(f && f[0] == 0);
  CHECK_EQ(size_word(f), 1);

  char *h = strndup("hello", 3);
  CHECK(h && strcmp(h, "hel") == 0);
  CHECK_EQ(size_word(h), 4);
  char *full = strndup("hello", 10);
  CHECK(full && strcmp(full, "hello") == 0);
  CHECK_EQ(size_word(full), 6);
  char *none = strndup("hello", 0);
  CHECK(none && none[0] == 0);
  CHECK_EQ(size_word(none), 1);
  char *low = strndup(P(0x800), 5);
  CHECK(low && low[0] == 0);
  CHECK(strndup(NULL, 4) == NULL);
  char unterminated[3] = {'x', 'y', 'z'};
  char *u = strndup(unterminated, 3);
  CHECK(u && strcmp(u, "xyz") == 0);
}

static void duplication_heap_full(int c, char **v) {
  CHECK(malloc((1u << 20) - 12) != NULL); /* leaves exactly one 8-byte block */
  char *one = strdup("abc");
  CHECK(one && strcmp(one, "abc") == 0);
  errno = 0;
  CHECK(strdup("x") == NULL);
  CHECK_EQ(errno, ENOMEM);
  errno = 0;
  CHECK(strndup("x", 0) == NULL);
  CHECK_EQ(errno, ENOMEM);
  CHECK(strndup(P(0x800), 3) == NULL);
}

static void case_insensitive(int c, char **v) {
  CHECK_EQ(strcasecmp("HeLLo", "hello"), 0);
  CHECK_EQ(strcasecmp("A", "b"), -1);
  CHECK_EQ(strcasecmp("[", "a"), -6);
  CHECK_EQ(strcasecmp("abc", "AB"), 99);
  CHECK_EQ(strcasecmp("AB", "abc"), -99);
  CHECK_EQ(strcasecmp("", "B"), -98);
  CHECK_EQ(strcasecmp("\xc4", "\xe4"), -32);
  CHECK_EQ(strcasecmp(NULL, NULL), 0);
  CHECK_EQ(strcasecmp(NULL, "x"), -1);
  CHECK_EQ(strcasecmp("x", NULL), 1);
  CHECK_EQ(strcasecmp("Z@", "z`"), -32);

  CHECK_EQ(strncasecmp("HeLLo", "hellx", 4), 0);
  CHECK_EQ(strncasecmp("HeLLo", "hellx", 5), -9);
  CHECK_EQ(strncasecmp("Z", "a", 1), 25);
  CHECK_EQ(strncasecmp("A", "[", 1), 6);
  CHECK_EQ(strncasecmp(NULL, "x", 0), 0);
  CHECK_EQ(strncasecmp(NULL, NULL, 3), 0);
  CHECK_EQ(strncasecmp(NULL, "x", 3), -1);
  CHECK_EQ(strncasecmp("x", NULL, 3), 1);
  CHECK_EQ(strncasecmp(P(7), P(7), 3), 0);
  char a[2] = {'Q', 'r'}, b[2] = {'q', 'R'};
  CHECK_EQ(strncasecmp(a, b, 2), 0); /* nothing past n is read */
}

static void tokens(int c, char **v) {
  char s[] = "  ab, cd ,,e  ";
  char *t1 = strtok(s, " ,");
  char *t2 = strtok(NULL, " ,");
  char *t3 = strtok(NULL, " ,");
  CHECK(t1 == s + 2 && strcmp(t1, "ab") == 0);
  CHECK(t2 == s + 6 && strcmp(t2, "cd") == 0);
  CHECK(t3 == s + 11 && strcmp(t3, "e") == 0);
  CHECK(strtok(NULL, " ,") == NULL);
  CHECK(strtok(NULL, " ,") == NULL);
  CHECK(memcmp(s, "  ab\0 cd\0,,e\0 ", sizeof s) == 0);

  char empty_delim[] = "abc";
  CHECK(strtok(empty_delim, "") == empty_delim);
  CHECK(strtok(NULL, "") == NULL);
  char null_delim[] = "abc def";
  CHECK(strtok(null_delim, NULL) == null_delim && strcmp(null_delim, "abc def") == 0);
  CHECK(strtok(NULL, NULL) == NULL);
  char nothing[] = "";
  CHECK(strtok(nothing, " ") == NULL);
  char spaces[] = "   ";
  CHECK(strtok(spaces, " ") == NULL);
  char trailing[] = "ab ";
  CHECK(strcmp(strtok(trailing, " "), "ab") == 0);
  CHECK(strtok(NULL, " ") == NULL);
}

static void tokens_change_and_restart(int c, char **v) {
  CHECK(strtok(NULL, " ") == NULL); /* before any string */
  char first[] = "a-b c-d";
  CHECK(strcmp(strtok(first, "-"), "a") == 0);
  CHECK(strcmp(strtok(NULL, " "), "b") == 0); /* a new delimiter for the next token */
  char second[] = "x,y";
  CHECK(strcmp(strtok(second, ","), "x") == 0); /* a new string abandons the first */
  CHECK(strcmp(strtok(NULL, ","), "y") == 0);
  CHECK(strtok(NULL, ",") == NULL);
  CHECK(strcmp(first, "a") == 0 && strcmp(first + 2, "b") == 0 && strcmp(first + 4, "c-d") == 0);
}

static const struct probe_case cases[] = {
    {"copying", copying},
    {"appending", appending},
    {"searching", searching},
    {"duplication", duplication},
    {"duplication_heap_full", duplication_heap_full},
    {"case_insensitive", case_insensitive},
    {"tokens", tokens},
    {"tokens_change_and_restart", tokens_change_and_restart},
};

PROBE_SUITE(string_ops, cases);
