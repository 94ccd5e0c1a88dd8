/* upcase IN OUT: writes an upper-case copy of the file IN to OUT ("-" for
   the console). */
#include <stdio.h>

int main(int argc, char **argv) {
  if (argc != 3) {
    puts("Usage: upcase IN OUT");
    return 2;
  }
  FILE *in = fopen(argv[1], "r");
  if (!in) {
    printf("upcase: cannot open %s\n", argv[1]);
    return 1;
  }
  FILE *out = fopen(argv[2], "w"); /* written whole when it is closed */
  if (!out) return 1;
  long lines = 0;
  for (int c; (c = fgetc(in)) != -1;) {
    if (c >= 'a' && c <= 'z') c -= 32;
    if (c == '\n') ++lines;
    /* The copy is held in the 1 MiB heap until it is closed: a file too big
       for it fails here, and nothing is written. */
    if (fputc(c, out) == -1) {
      printf("upcase: %s does not fit in memory\n", argv[2]);
      return 1;
    }
  }
  fclose(in);
  if (fclose(out) != 0) {
    printf("upcase: cannot write %s\n", argv[2]);
    return 1;
  }
  printf("%ld lines\n", lines);
  return 0;
}
