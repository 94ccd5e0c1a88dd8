/* sort: the lines of the input in byte order, with qsort. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAXLINES 1000

static int compare(const void *a, const void *b) {
  return strcmp(*(char *const *)a, *(char *const *)b);
}

int main(void) {
  static char *lines[MAXLINES];
  char buf[256];
  int n = 0;
  while (n < MAXLINES && fgets(buf, sizeof buf, stdin) != NULL) lines[n++] = strdup(buf);
  qsort(lines, n, sizeof lines[0], compare);
  for (int i = 0; i < n; i++) fputs(lines[i], stdout);
  return 0;
}
