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

CASE(publishes) {
  FILE f = memory_stream();
  CHECK_EQ(fputs("hi", &f), 2);
  CHECK(published == f.buf);
  CHECK_EQ(published_len, 2);
  CHECK(strcmp(published, "hi") == 0);
  /* A leading %c is an ordinary conversion on a memory stream. */
  CHECK_EQ(fprintf(&f, "%c|%5d|%s", 'A', -42, "z"), 9);
  CHECK(strcmp(published, "hiA|  -42|z") == 0);
  CHECK_EQ(published_len, 11);
  FILE g = memory_stream(); /* the NUL needs room too */
  CHECK(fwrite(big, 1, 255, &g) == 255 && g.cap == 256 && fputc('x', &g) == 'x' && g.cap == 512);
  FILE file = {0};
  file.kind = 3;
  CHECK_EQ(fputs("data", &file), 4);
  CHECK(strcmp(file.buf, "data") == 0);
}

/* With a precision, the stream formatter reads no more of a string than the
   precision allows: an array without a NUL is fine. */
CASE(precision_bounds_string) {
  static const char raw[3] = {'a', 'b', 'c'};
  FILE f = memory_stream();
  CHECK_EQ(fprintf(&f, "%.3s|%.2s|%.0s|%5.1s", raw, raw, raw, raw), 13);
  CHECK(strcmp(f.buf, "abc|ab||    a") == 0);
}

/* A count that would wrap the capacity arithmetic fails and leaves the
   stream exactly as it was. */
CASE(huge_write) {
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

CASE(empty_and_null) {
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

CASE(memstream_publishes) {
  char *p = (char *)1;
  size_t n = 99;
  CHECK(open_memstream(NULL, &n) == NULL);
  CHECK(open_memstream(&p, NULL) == NULL);
  CHECK(p == (char *)1 && n == 99); /* untouched */
  FILE *f = open_memstream(&p, &n);
  CHECK(f != NULL);
  CHECK(p == NULL && n == 0);
  CHECK_EQ(fputs("hi", f), 2);
  CHECK(p != NULL && strcmp(p, "hi") == 0);
  CHECK_EQ(n, 2);
  CHECK_EQ(f->cap, 256);
  CHECK_EQ(fprintf(f, "%d", 42), 2);
  CHECK(strcmp(p, "hi42") == 0);
  CHECK_EQ(fclose(f), 0);
  CHECK(strcmp(p, "hi42") == 0); /* the buffer stays with the caller */
  CHECK_EQ(n, 4);

  char *q = (char *)1;
  size_t m = 5;
  FILE *g = open_memstream(&q, &m);
  CHECK_EQ(fclose(g), 0);
  CHECK(q == NULL && m == 0); /* never written */
}

/* Doubling to 512 KiB consumes nearly the whole heap; the next doubling does
   not fit and leaves everything as it was. */
CASE(memstream_large) {
  char *p;
  size_t n;
  FILE *f = open_memstream(&p, &n);
  static char chunk[1000];
  memset(chunk, 'z', sizeof chunk);
  size_t written = 0;
  size_t caps[16], changes = 0;
  while (written + sizeof chunk < 524288) {
    CHECK_EQ(fwrite(chunk, 1, sizeof chunk, f), sizeof chunk);
    written += sizeof chunk;
    if (changes == 0 || caps[changes - 1] != f->cap) caps[changes++] = f->cap;
  }
  CHECK_EQ(n, written);
  CHECK(p == f->buf && p[written] == 0 && p[written - 1] == 'z');
  /* 256 doubled twice for the first 1000 bytes, then once per need. */
  CHECK_EQ(changes, 10);
  for (size_t i = 0; i < changes; ++i) CHECK_EQ(caps[i], 1024u << i);
  CHECK_EQ(f->cap, 524288);
  char *before = p;
  CHECK_EQ(fwrite(chunk, 1, sizeof chunk, f), 0);
  CHECK(p == before && n == written && f->len == written && f->cap == 524288);
  CHECK_EQ(fputc('x', f), 'x'); /* what still fits is still taken */
  CHECK_EQ(n, written + 1);
}

CASE(read_functions_refuse_other_kinds) {
  char *p;
  size_t n;
  FILE *f = open_memstream(&p, &n);
  fputs("abc", f);
  char buf[4];
  CHECK_EQ(fread(buf, 1, 1, f), 0);
  CHECK_EQ(fgetc(f), -1);
  CHECK_EQ(f->eof, 0);
  CHECK_EQ(fseek(f, 0, SEEK_SET), -1);
  CHECK_EQ(ftell(f), -1);
  f->eof = 1;
  f->error = 1;
  rewind(f);
  CHECK(f->eof == 0 && f->error == 0);
  CHECK(strcmp(p, "abc") == 0 && f->len == 3);
  CHECK_EQ(feof(NULL), 1);
  CHECK_EQ(ferror(NULL), 1);
  CHECK_EQ(ferror(f), 0);
  CHECK_EQ(fread(buf, 0x10000, 0x10000, stdin), 0);
  CHECK_EQ(fseek(stdin, 0, SEEK_SET), -1);
  CHECK_EQ(ftell(stdin), -1);
  CHECK_EQ(ftell(NULL), -1);
  rewind(NULL);
}

CASE(standard_paths) {
  CHECK(fopen("-", "r") == stdin);
  CHECK(fopen(NULL, "w") == stdout);
  CHECK(fopen("-", "wb") == stdout);
  CHECK(fopen("-", "a") == NULL);
  CHECK(fopen("x", NULL) == NULL);
  CHECK(fopen(NULL, NULL) == NULL);
  FILE *saved = stdout;
  char *p;
  size_t n;
  stdout = open_memstream(&p, &n);
  CHECK(fopen("-", "w") == stdout); /* the current value */
  stdout = saved;
  CHECK_EQ(fclose(stdout), 0);
  CHECK_EQ(fclose(stderr), 0);
  CHECK_EQ(fclose(stdin), 0);
  CHECK_EQ(fclose(NULL), -1);
  CHECK(stdout->kind == 1 && stdout->fd == 1); /* still usable */
}
