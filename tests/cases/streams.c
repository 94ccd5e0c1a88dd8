/* The byte write path on collecting streams: records set up by hand, memory
   streams and the standard paths of fopen and fclose. */
#include "check.h"
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char *published;
static size_t published_len;

#define MEMORY_STREAM                                                                              \
  { .kind = 2, .out_ptr = &published, .out_size = &published_len }

static char big[1024];

static int call_vfprintf(FILE *f, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = vfprintf(f, format, ap);
  va_end(ap);
  return r;
}

CASE(publishes) {
  FILE f = MEMORY_STREAM;
  CHECK(fputs("hi", &f) == 2 && published == f.buf && published_len == 2 && !strcmp(f.buf, "hi"));
  /* A leading %c is an ordinary conversion on a memory stream. */
  CHECK_EQ(fprintf(&f, "%c|%5d|%s", 'A', -42, "z"), 9);
  CHECK(strcmp(published, "hiA|  -42|z") == 0 && published_len == 11);
  FILE g = MEMORY_STREAM; /* the NUL needs room too */
  CHECK(fwrite(big, 1, 255, &g) == 255 && g.cap == 256 && fputc('x', &g) == 'x' && g.cap == 512);
  FILE file = {.kind = 3};
  CHECK(fputs("data", &file) == 4 && strcmp(file.buf, "data") == 0);
  /* With a precision no more of a string is read: an array without a NUL is fine. */
  static const char raw[3] = {'a', 'b', 'c'};
  FILE h = MEMORY_STREAM;
  CHECK_EQ(fprintf(&h, "%.3s|%.2s|%.0s|%5.1s", raw, raw, raw, raw), 13);
  CHECK(strcmp(h.buf, "abc|ab||    a") == 0);
}

/* A count that would wrap the capacity arithmetic fails and leaves the
   stream as it was but for its error indicator; so does a capacity that would
   double past 2^32. */
CASE(huge_write) {
  FILE f = MEMORY_STREAM;
  fputs("abc", &f);
  FILE before = f;
  CHECK(fwrite(big, 1, 0xfffffff0u, &f) == 0 && ferror(&f) == 1);
  f.error = 0;
  CHECK(fwrite(big, 0xfffffffcu, 1, &f) == 0 && f.error == 1);
  f.error = 0;
  CHECK(memcmp(&f, &before, sizeof f) == 0 && strcmp(f.buf, "abc") == 0);
  f.len = 0x7ffffff0u;
  f.cap = 0x80000000u;
  before = f;
  CHECK(fwrite(big, 1, 0x20, &f) == 0 && f.error == 1);
}

/* A file-write stream that could not grow is not written at all: fclose
   fails and leaves no file behind. */
CASE(lost_bytes) {
  FILE *f = fopen("lost", "w");
  CHECK(f != NULL && fputs("kept", f) == 4);
  for (size_t n = 1 << 16; n; n /= 2)
    while (malloc(n)) continue;
  CHECK(fwrite(big, 1, 300, f) == 0 && ferror(f) == 1 && fputc('x', f) == 'x');
  CHECK(fclose(f) == -1 && open("lost", 0) < 0);
}

CASE(empty_and_null) {
  FILE f = MEMORY_STREAM;
  CHECK(fwrite(big, 1, 0, &f) == 0 && fputs("", &f) == 0 && fprintf(&f, "") == 0);
  CHECK(f.buf == NULL && published == NULL);
  CHECK(fputs(NULL, &f) == -1 && fputc('x', NULL) == -1 && fprintf(&f, NULL) == -1);
  CHECK(fwrite(NULL, 1, 1, &f) == 0 && fwrite(big, 1, 1, NULL) == 0);
  CHECK(call_vfprintf(NULL, "x") == -1 && call_vfprintf(&f, NULL) == -1 && f.buf == NULL);
  CHECK(fputc(0x141, &f) == 0x141 && fputc(-1, &f) == -1 && memcmp(f.buf, "A\xff", 3) == 0);
}

CASE(memstream_publishes) {
  char *p = (char *)1, *q = (char *)1;
  size_t n = 99, m = 5;
  CHECK(open_memstream(NULL, &n) == NULL && open_memstream(&p, NULL) == NULL);
  CHECK(p == (char *)1 && n == 99); /* untouched */
  FILE *f = open_memstream(&p, &n);
  CHECK(f && p == NULL && n == 0);
  CHECK(fputs("hi", f) == 2 && p && strcmp(p, "hi") == 0 && n == 2 && f->cap == 256);
  CHECK(fprintf(f, "%d", 42) == 2 && strcmp(p, "hi42") == 0);
  CHECK(fclose(f) == 0 && strcmp(p, "hi42") == 0 && n == 4); /* the buffer stays with the caller */
  CHECK(fclose(open_memstream(&q, &m)) == 0 && q == NULL && m == 0); /* never written */
}

CASE(read_functions_refuse_other_kinds) {
  char *p, buf[4];
  size_t n;
  FILE *f = open_memstream(&p, &n);
  fputs("abc", f);
  CHECK(fread(buf, 1, 1, f) == 0 && fgetc(f) == -1 && f->eof == 0);
  CHECK(fseek(f, 0, SEEK_SET) == -1 && ftell(f) == -1);
  f->eof = f->error = 1;
  rewind(f);
  CHECK(f->eof == 0 && f->error == 0 && strcmp(p, "abc") == 0 && f->len == 3);
  CHECK(feof(NULL) == 1 && ferror(NULL) == 1 && ferror(f) == 0);
  CHECK(fread(buf, 0x10000, 0x10000, stdin) == 0 && fseek(stdin, 0, SEEK_SET) == -1);
  CHECK(ftell(stdin) == -1 && ftell(NULL) == -1);
  rewind(NULL);
}

CASE(standard_paths) {
  CHECK(fopen("-", "r") == stdin && fopen(NULL, "w") == stdout && fopen("-", "wb") == stdout);
  CHECK(fopen("-", "a") == NULL && fopen("x", NULL) == NULL && fopen(NULL, NULL) == NULL);
  FILE *saved = stdout;
  char *p;
  size_t n;
  stdout = open_memstream(&p, &n);
  CHECK(fopen("-", "w") == stdout); /* the current value */
  stdout = saved;
  CHECK(fclose(stdout) == 0 && fclose(stderr) == 0 && fclose(stdin) == 0 && fclose(NULL) == -1);
  CHECK(stdout->kind == 1 && stdout->fd == 1); /* still usable */
}
