/* uniq -c: each run of equal lines once, with how many there were. */
#include <stdio.h>
#include <string.h>

int main(void) {
  char prev[256] = "", line[256];
  int count = 0;
  while (fgets(line, sizeof line, stdin) != NULL) {
    if (count > 0 && strcmp(line, prev) == 0) {
      count++;
      continue;
    }
    if (count > 0) printf("%7d %s", count, prev);
    strcpy(prev, line);
    count = 1;
  }
  if (count > 0) printf("%7d %s", count, prev);
  return 0;
}
