/* The heap's block layout, limits and exhaustion; each case (a process of
   its own) starts on a fresh arena. */
#include "check.h"
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define HEAP (1u << 20)

static uint32_t size_word(void *p) {
  uint32_t w;
  memcpy(&w, (char *)p - 4, 4);
  return w;
}

static uintptr_t addr(void *p) {
  return (uintptr_t)p;
}

/* A request that fails sets ENOMEM. */
static int refused(void *p) {
  int ok = p == NULL && errno == ENOMEM;
  errno = 0;
  return ok;
}

CASE(block_layout) {
  char *prev = malloc(0);
  /* Four bytes past a multiple of eight, behind the size word. */
  CHECK(prev && addr(prev) % 8 == 4 && size_word(prev) == 1);
  static const size_t sizes[] = {1, 4, 5, 12, 13, 20, 21};
  static const uint32_t blocks[] = {8, 8, 16, 16, 24, 24, 32};
  for (int i = 0; i < 7; ++i) {
    char *p = malloc(sizes[i]);
    CHECK_ROW("block", addr(p), addr(prev) + (i ? blocks[i - 1] : 8));
    CHECK_ROW("size word", size_word(p), sizes[i]);
    prev = p;
  }
}

CASE(limits) {
  char *first = malloc(HEAP - 4 - 8); /* with the 8 bytes below, the whole arena */
  char *last = malloc(4);
  CHECK(first && last && addr(last) + 4 == addr(first) - 4 + HEAP && refused(malloc(0)));
}

CASE(largest_and_huge_requests) {
  static const size_t sizes[] = {0xfffffffcu, 0xfffffff5u, 0xffffffffu,
                                 0x80000000u, HEAP,        HEAP - 3};
  for (int i = 0; i < 6; ++i) CHECK(refused(malloc(sizes[i])) && refused(realloc(NULL, sizes[i])));
  CHECK(malloc(HEAP - 4) != NULL && refused(malloc(0))); /* nothing was consumed before */
}

CASE(calloc) {
  char *a = calloc(0, 5), *b = calloc(5, 0);
  CHECK(a && b && addr(b) - addr(a) == 8 && size_word(a) == 1);
  CHECK(refused(calloc(65536, 65536)) && size_word(calloc(3, 4)) == 12);
}

CASE(realloc_moves) {
  char *p = malloc(6);
  memcpy(p, "abcde", 6);
  char *q = realloc(p, 3);
  CHECK(q != p && size_word(q) == 3 && memcmp(q, "abc", 3) == 0 && memcmp(p, "abcde", 6) == 0);
  char *z = realloc(p, 0), *n = realloc(NULL, 7);
  CHECK(size_word(z) == 1 && z[0] == 'a' && size_word(n) == 7 && addr(n) - addr(z) == 8);
}

/* A failed realloc keeps the old block; free does nothing, not even twice;
   a failed request leaves errno at ENOMEM after later successes. */
CASE(failures_and_free) {
  char *p = malloc(10);
  memcpy(p, "123456789", 10);
  CHECK(refused(realloc(p, HEAP)) && memcmp(p, "123456789", 10) == 0);
  free(NULL);
  free(p);
  free(p);
  CHECK(malloc(HEAP) == NULL && addr(malloc(1)) == addr(p) + 16 && errno == ENOMEM);
}
