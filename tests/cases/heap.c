/* The heap's block layout, limits and exhaustion, checked from inside. Each
   case starts on a fresh arena, since every run is a new process. */
#include "check.h"
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
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

CASE(block_layout) {
  char *p0 = malloc(0);
  CHECK(p0 != NULL);
  CHECK_EQ(addr(p0) % 8, 4); /* four bytes past a multiple of eight */
  CHECK_EQ(size_word(p0), 1);
  static const size_t sizes[] = {1, 4, 5, 12, 13, 20, 21};
  static const uint32_t blocks[] = {8, 8, 16, 16, 24, 24, 32};
  char *prev = p0;
  uint32_t prev_block = 8;
  for (int i = 0; i < 7; ++i) {
    char *p = malloc(sizes[i]);
    CHECK_EQ(addr(p), addr(prev) + prev_block);
    CHECK_EQ(size_word(p), sizes[i]);
    prev = p;
    prev_block = blocks[i];
  }
}

CASE(fills_exactly) {
  char *first = malloc(HEAP - 4 - 8); /* with the 8 bytes below, the whole arena */
  CHECK(first != NULL);
  char *last = malloc(4);
  CHECK(last != NULL);
  CHECK_EQ(addr(last) + 4, addr(first) - 4 + HEAP);
  errno = 0;
  CHECK(malloc(0) == NULL);
  CHECK_EQ(errno, ENOMEM);
}

CASE(largest_request) {
  errno = 0;
  CHECK(malloc(HEAP - 3) == NULL);
  CHECK_EQ(errno, ENOMEM);
  CHECK(malloc(HEAP - 4) != NULL);
  CHECK(malloc(0) == NULL);
}

CASE(huge_requests) {
  static const size_t sizes[] = {0xfffffffcu, 0xfffffff5u, 0xffffffffu, 0x80000000u, HEAP};
  for (int i = 0; i < 5; ++i) {
    errno = 0;
    CHECK(malloc(sizes[i]) == NULL);
    CHECK_EQ(errno, ENOMEM);
    CHECK(realloc(NULL, sizes[i]) == NULL);
  }
  /* Nothing was consumed: the whole arena is still there. */
  CHECK(malloc(HEAP - 4) != NULL);
}

CASE(calloc) {
  char *a = calloc(0, 5), *b = calloc(5, 0);
  CHECK(a && b);
  CHECK_EQ(addr(b) - addr(a), 8);
  CHECK_EQ(size_word(a), 1);
  errno = 0;
  CHECK(calloc(65536, 65536) == NULL);
  CHECK_EQ(errno, ENOMEM);
  char *d = calloc(3, 4);
  CHECK_EQ(addr(d) - addr(b), 8);
  CHECK_EQ(size_word(d), 12);
  for (int i = 0; i < 12; ++i) CHECK_EQ(d[i], 0);
  CHECK_EQ(addr(malloc(1)) - addr(d), 16);
}

CASE(realloc_moves) {
  char *p = malloc(6);
  memcpy(p, "abcde", 6);
  char *q = realloc(p, 3);
  CHECK(q != p);
  CHECK_EQ(size_word(q), 3);
  CHECK(memcmp(q, "abc", 3) == 0);
  CHECK(memcmp(p, "abcde", 6) == 0);
  char *r = realloc(p, 20);
  CHECK_EQ(size_word(r), 20);
  CHECK(memcmp(r, "abcde", 6) == 0);
  for (int i = 6; i < 20; ++i) CHECK_EQ(r[i], 0); /* only the recorded 6 bytes were copied */
  char *z = realloc(p, 0);
  CHECK_EQ(size_word(z), 1);
  CHECK_EQ(z[0], 'a');
  char *n = realloc(NULL, 7);
  CHECK_EQ(size_word(n), 7);
  CHECK_EQ(addr(n) - addr(z), 8);
}

CASE(realloc_failure) {
  char *p = malloc(10);
  memcpy(p, "123456789", 10);
  errno = 0;
  CHECK(realloc(p, HEAP) == NULL);
  CHECK_EQ(errno, ENOMEM);
  CHECK(memcmp(p, "123456789", 10) == 0);
  CHECK_EQ(addr(malloc(1)), addr(p) + 16);
}

CASE(free) {
  char *p = malloc(4);
  free(NULL);
  free(p);
  free(p);
  CHECK_EQ(addr(malloc(4)), addr(p) + 8);
}

CASE(errno_stays) {
  errno = 0;
  CHECK(malloc(HEAP) == NULL);
  CHECK(malloc(1) != NULL);
  CHECK_EQ(errno, ENOMEM);
}
