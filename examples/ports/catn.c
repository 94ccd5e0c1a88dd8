/* cat -n: number the lines of the input. */
#include <stdio.h>
#include <string.h>

int main(void) {
  char line[256];
  int n = 0, fresh = 1;
  while (fgets(line, sizeof line, stdin) != NULL) {
    if (fresh) printf("%6d\t", ++n);
    fputs(line, stdout);
    fresh = line[0] != '\0' && line[strlen(line) - 1] == '\n';
  }
  return 0;
}
