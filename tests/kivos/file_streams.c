/* Streams on files in a folder holding "ten" ("0123456789") and "ff" ("a",
   0xFF, "b"); command rows check the traps and the files written. */
#include "probe.h"
#include <stdlib.h>
#include <unistd.h>

CASE(fread_short) {
  FILE *f = fopen("ten", "r");
  char buf[12] = {0};
  CHECK(f != NULL && f->kind == 1 && f->fd == 3);
  CHECK(fread(buf, 4, 3, f) == 2 && memcmp(buf, "0123456789", 10) == 0);
  CHECK(f->pos == 10 && feof(f) == 1 && fread(buf, 1, 4, f) == 0 && feof(f) == 1);
  CHECK(ferror(f) == 0 && fread(buf, 0x10000, 0x10000, f) == 0 && fclose(f) == 0);
}

CASE(fgetc_bytes) {
  FILE *f = fopen("ff", "rb");
  CHECK(fgetc(f) == 'a' && fgetc(f) == 255 && fgetc(f) == 'b' && ftell(f) == 3 && feof(f) == 0);
  CHECK(fgetc(f) == -1 && feof(f) == 1 && ftell(f) == 3);
  fclose(f);
}

CASE(positioning) {
  FILE *f = fopen("ten", "r");
  for (int i = 0; i < 5; ++i) fgetc(f);
  CHECK(ftell(f) == 5 && fseek(f, 2, SEEK_SET) == 0 && ftell(f) == 2 && fgetc(f) == '2');
  CHECK(fseek(f, 3, SEEK_CUR) == 0 && ftell(f) == 6);
  CHECK(fseek(f, -1, SEEK_END) == 0 && ftell(f) == 9 && fgetc(f) == '9');
  CHECK(fgetc(f) == -1 && feof(f) == 1);
  CHECK(fseek(f, -20, SEEK_SET) == -1 && feof(f) == 1 && ftell(f) == 10); /* refused: no change */
  rewind(f);
  CHECK(feof(f) == 0 && ftell(f) == 0 && fgetc(f) == '0');
  fclose(f);
  stdin->eof = 1;
  rewind(stdin); /* no seek, but the indicator is cleared */
  CHECK_EQ(stdin->eof, 0);
}

CASE(open_modes) {
  CHECK(fopen("missing", "r") == NULL && fopen("ten", "a") == NULL && fopen("ten", "x") == NULL);
  FILE *f = fopen("ten", "r+");
  CHECK(f != NULL && f->kind == 1);
  CHECK(fputs("no", f) == -1 && fgetc(f) == '0'); /* opened for reading only */
  fclose(f);
}

CASE(write_file) {
  FILE *f = fopen("out", "w");
  CHECK(f != NULL && f->kind == 3 && strcmp(f->path, "out") == 0);
  CHECK(fputs("hello", f) == 5 && fprintf(f, " %d%c", 42, '!') == 4);
  CHECK(fwrite("\0\n", 1, 2, f) == 2 && fclose(f) == 0 && fclose(fopen("empty", "wb")) == 0);
}

CASE(write_fails) {
  FILE *f = fopen("nowhere/out", "w");
  CHECK(f != NULL && fputs("lost", f) == 4 && fclose(f) == -1);
}

/* A stream assigned to stdout is still closed by its kind: the file is
   written and the result is the write's. */
CASE(redirected_stdout) {
  FILE *saved = stdout, *saved_in = stdin;
  stdout = fopen("log", "w");
  puts("hi");
  printf("n=%d\n", 7);
  CHECK_EQ(fclose(stdout), 0);
  stdout = saved;
  stdin = fopen("ten", "r");
  CHECK(getchar() == '0' && fclose(stdin) == 0); /* closes descriptor 3 */
  stdin = saved_in;
}

CASE(low_descriptor) {
  FILE f = {.kind = 1, .fd = 2}, g = {.kind = 1, .fd = -4};
  CHECK(fclose(&f) == 0 && fclose(&g) == 0); /* no close trap */
}

CASE(standard_input) {
  CHECK(getchar() == 'a' && fgetc(stdin) == 'b' && stdin->pos == 2);
  CHECK(getchar() == -1 && feof(stdin) == 1);
  FILE *saved = stdin;
  stdin = NULL;
  CHECK_EQ(getchar(), -1);
  stdin = saved;
}

/* For kernels forced to answer otherwise: fread's count and position, then fclose's result. */
CASE(kernel_results) {
  FILE *f = fopen("ten", "r");
  char buf[12];
  report((unsigned)fread(buf, 4, 3, f), (unsigned)f->pos);
  report((unsigned)fclose(f), 0);
}

static FILE *file_holding(const char *name, const char *text) {
  writefile(name, text, strlen(text));
  return fopen(name, "r");
}

/* One token per call, read a byte at a time: pos counts exactly what was
   taken, the white space that ended the token included. */
CASE(fscanf_tokens) {
  int a = 0, b = 0;
  FILE *f = file_holding("nums", "  12 34\n");
  CHECK(fscanf(f, "%d %d", &a, &b) == 1 && a == 12 && f->pos == 5 && !feof(f));
  CHECK(fscanf(f, "%d", &b) == 1 && b == 34 && f->pos == 8 && !feof(f));
  CHECK(fscanf(f, "%d", &b) == -1 && feof(f) && f->pos == 8);
  FILE *g = file_holding("pair", "1,2");
  CHECK(fscanf(g, "%d,%d", &a, &b) == 2 && a == 1 && b == 2 && feof(g));
  char big[301], word[256];
  memset(big, 'w', 300);
  strcpy(big + 298, " x"); /* a word longer than the 255 bytes %s stores */
  FILE *l = file_holding("long", big);
  CHECK(fscanf(l, "%s", word) == 1 && strlen(word) == 255 && l->pos == 299);
  CHECK(fscanf(NULL, "%d", &a) == -1 && fscanf(f, NULL) == -1);
  CHECK(fscanf(fopen("out", "w"), "%d", &a) == -1); /* not a reading stream */
  CHECK(fscanf(stdin, "%s", word) == 1 && strcmp(word, "ab") == 0 && feof(stdin) &&
        stdin->pos == 2);
}

/* The classic stream functions beyond the core runtime. */
CASE(classic_functions) {
  char line[8];
  FILE *f = fopen("ten", "r");
  CHECK(fileno(f) == 3 && getc(f) == '0' && fgets(line, 4, f) == line && !strcmp(line, "123"));
  CHECK(fgets(line, sizeof line, f) == line && !strcmp(line, "456789") && !fgets(line, 8, f));
  CHECK(feof(f) == 1 && (clearerr(f), feof(f)) == 0 && putc('x', stdout) == 'x');
  CHECK(remove("ten") == 0 && remove("ten") == -1 && fclose(f) == 0);
  CHECK(strtoll(" -12x", NULL, 0) == -12 && lldiv(-7, 2).rem == -1 && llabs(-5) == 5);
  /* One byte of pushback, for fgetc, fread and fscanf alike. */
  FILE *g = file_holding("pushed", "12 x");
  char two[2];
  int n = 0;
  CHECK(getc(g) == '1' && ungetc('7', g) == '7' && ungetc('8', g) == EOF && ftell(g) == 0);
  CHECK(fscanf(g, "%d", &n) == 1 && n == 72 && ungetc('y', g) == 'y');
  CHECK(fread(two, 1, 2, g) == 2 && two[0] == 'y' && two[1] == 'x' && fgetc(g) == EOF);
}
