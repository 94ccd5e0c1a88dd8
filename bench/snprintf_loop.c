/* Calls snprintf argv[1] times with format number argv[2] (or, for 4,
   fputc to a file), for counting the instructions and stores of one call
   under kivos-run. */
#include <stdio.h>

static unsigned number(const char *s) {
  unsigned n = 0;
  while (*s >= '0' && *s <= '9') n = n * 10 + (unsigned)(*s++ - '0');
  return n;
}

int main(int argc, char **argv) {
  if (argc < 3) return 2;
  unsigned n = number(argv[1]), which = number(argv[2]);
  static char buf[128];
  FILE *out = which == 4 ? fopen("snprintf_loop.out", "w") : 0;
  for (unsigned i = 0; i < n; ++i) {
    switch (which) {
    case 0:
      snprintf(buf, sizeof buf, "Drive %d: Present (current)\n", (int)i);
      break;
    case 1:
      snprintf(buf, sizeof buf, "%-10s|%08.3x|%+5d", "name", i, -(int)i);
      break;
    case 2:
      snprintf(buf, sizeof buf, "%s", "a plain string of some length");
      break;
    case 3:
      snprintf(buf, 16, "%40d", (int)i);
      break;
    case 4:
      fputc('a' + (int)(i % 26), out);
      break;
    }
  }
  if (out) fclose(out);
  return 0;
}
