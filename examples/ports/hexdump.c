/* hexdump: the input in lines of 16 bytes, read with fread: the offset,
   the bytes in hexadecimal, and the printable ones. */
#include <ctype.h>
#include <stdio.h>

int main(void) {
  unsigned char buf[16];
  char hex[8];
  unsigned long offset = 0;
  size_t n, i;
  while ((n = fread(buf, 1, sizeof buf, stdin)) > 0) {
    snprintf(hex, sizeof hex, "%06lx", offset);
    fputs(hex, stdout);
    for (i = 0; i < sizeof buf; i++) {
      if (i < n) {
        snprintf(hex, sizeof hex, " %02x", buf[i]);
        fputs(hex, stdout);
      } else {
        fputs("   ", stdout);
      }
    }
    fputs("  |", stdout);
    for (i = 0; i < n; i++) putchar(isprint(buf[i]) ? buf[i] : '.');
    fputs("|\n", stdout);
    offset += n;
  }
  return 0;
}
