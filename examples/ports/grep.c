/* grep [-v] [-n] [-c] PATTERN: the lines of the input that hold PATTERN
   (-v: that do not), with their numbers (-n), or only how many (-c). */
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char *argv[]) {
  int c, invert = 0, number = 0, count = 0, found = 0;
  long lineno = 0;
  char line[256];
  while ((c = getopt(argc, argv, "vnc")) != -1) {
    switch (c) {
    case 'v':
      invert = 1;
      break;
    case 'n':
      number = 1;
      break;
    case 'c':
      count = 1;
      break;
    default:
      printf("Usage: grep [-v] [-n] [-c] pattern\n");
      return 2;
    }
  }
  if (optind != argc - 1) {
    printf("Usage: grep [-v] [-n] [-c] pattern\n");
    return 2;
  }
  while (fgets(line, sizeof line, stdin) != NULL) {
    lineno++;
    if ((strstr(line, argv[optind]) != NULL) != invert) {
      found++;
      if (count) continue;
      if (number) printf("%ld:", lineno);
      fputs(line, stdout);
    }
  }
  if (count) printf("%d\n", found);
  return found ? 0 : 1;
}
