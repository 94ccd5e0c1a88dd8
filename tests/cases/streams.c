/* The byte write path on collecting streams, through records set up by
   hand (the functions that create them come later). */
#include "check.h"
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

static char *published;
static size_t published_len;

static FILE memory_stream(void) {
  FILE f = {0};
  f.kind = 2;
  f.out_ptr = &published;
  f.out_size = &published_len;
  return f;
}

static char big[1024];

static int call_vfprintf(FILE *f, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = vfprintf(f, format, ap);
  va_end(ap);
  return r;
}

static void capacity(int c, char **v) {
  memset(big, 'x', sizeof big);
  FILE f = memory_stream();
  CHECK_EQ(fwrite(big, 1, 255, &f), 255);
  CHECK_EQ(f.cap, 256);
  CHECK_EQ(f.len, 255);
  CHECK_EQ(f.buf[255], 0);
  FILE g = memory_stream();
  CHECK_EQ(fwrite(big, 256, 1, &g), 1);
  CHECK_EQ(g.cap, 512);
  FILE h = memory_stream();
  fwrite(big, 1, 300, &h);
  CHECK_EQ(h.cap, 512);
  fwrite(big, 1, 300, &h);
  CHECK_EQ(h.cap, 1024);
  CHECK_EQ(h.len, 600);
  CHECK(published == h.buf);
  CHECK_EQ(published_len, 600);
}

static void publishes_every_write(int c, char **v) {
  FILE f = memory_stream();
  CHECK_EQ(fputs("hi", &f), 2);
  CHECK(published == f.buf);
  CHECK_EQ(published_len, 2);
  CHECK(strcmp(published, "hi") == 0);
  /* A leading %c is an ordinary conversion on a memory stream. */
  CHECK_EQ(fprintf(&f, "%c|%5d|%s", 'A', -42, "z"), 9);
  CHECK(strcmp(published, "hiA|  -42|z") == 0);
  CHECK_EQ(published_len, 11);
  FILE file = {0};
  file.kind = 3;
  CHECK_EQ(fputs("data", &file), 4);
  CHECK(strcmp(file.buf, "data") == 0);
}

/* A count that would wrap the capacity arithmetic fails and leaves the
   stream exactly as it was. */
static void huge_write_fails(int c, char **v) {
  FILE f = memory_stream();
  fputs("abc", &f);
  FILE before = f;
  CHECK_EQ(fwrite(big, 1, 0xfffffff0u, &f), 0);
  CHECK_EQ(fwrite(big, 0xfffffffcu, 1, &f), 0);
  CHECK(memcmp(&f, &before, sizeof f) == 0);
  CHECK(strcmp(f.buf, "abc") == 0);
  /* A capacity that would have to double past 2^32. */
  f.len = 0x7ffffff0u;
  f.cap = 0x80000000u;
  before = f;
  CHECK_EQ(fwrite(big, 1, 0x20, &f), 0);
  CHECK(memcmp(&f, &before, sizeof f) == 0);
}

/* When the heap cannot grow the buffer, nothing changes. */
static void heap_exhausted(int c, char **v) {
  FILE f = memory_stream();
  fputs("abc", &f);
  FILE before = f;
  char *old_published = published;
  CHECK_EQ(fwrite(big, 1, 600000, &f), 0);
  CHECK(memcmp(&f, &before, sizeof f) == 0);
  CHECK(published == old_published);
  CHECK_EQ(published_len, 3);
}

static void empty_and_null(int c, char **v) {
  FILE f = memory_stream();
  CHECK_EQ(fwrite(big, 1, 0, &f), 0);
  CHECK(f.buf == NULL);
  CHECK_EQ(fputs("", &f), 0);
  CHECK(f.buf == NULL);
  CHECK(published == NULL);
  CHECK_EQ(fputs(NULL, &f), -1);
  CHECK_EQ(fputc('x', NULL), -1);
  CHECK_EQ(fwrite(NULL, 1, 1, &f), 0);
  CHECK_EQ(fwrite(big, 1, 1, NULL), 0);
  CHECK_EQ(call_vfprintf(NULL, "x"), -1);
  CHECK_EQ(call_vfprintf(&f, NULL), -1);
  CHECK_EQ(fprintf(&f, NULL), -1);
  CHECK_EQ(fprintf(&f, ""), 0);
  CHECK(f.buf == NULL);
  CHECK_EQ(fputc(0x141, &f), 0x141);
  CHECK_EQ(fputc(-1, &f), -1);
  CHECK(memcmp(f.buf, "A\xff", 3) == 0);
}

static const struct probe_case cases[] = {
    {"capacity", capacity},
    {"publishes", publishes_every_write},
    {"huge_write", huge_write_fails},
    {"heap_exhausted", heap_exhausted},
    {"empty_and_null", empty_and_null},
};

PROBE_SUITE(streams, cases);
