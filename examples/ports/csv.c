/* csv: splits each line of the input at its commas, empty fields kept,
   and lists the fields; a line with a quote is only reported, a comment
   line (# first) skipped. Uses strtok_r, strspn, strcspn, strpbrk, memchr. */
#include <stdio.h>
#include <string.h>

int main(void) {
  char line[256];
  int lineno = 0;
  while (fgets(line, sizeof line, stdin) != NULL) {
    lineno++;
    char *end = memchr(line, '\n', sizeof line);
    if (end) *end = '\0';
    if (line[strspn(line, " \t")] == '#') continue;
    if (strpbrk(line, "\"'")) {
      printf("%d: quoted fields are not split\n", lineno);
      continue;
    }
    printf("%d:", lineno);
    for (char *field = line;;) {
      size_t len = strcspn(field, ",");
      printf(" [%.*s]", (int)len, field);
      if (field[len] == '\0') break;
      field += len + 1;
    }
    /* The same line's words, as strtok_r sees them (runs of commas and blanks). */
    printf(" words:");
    char *save, *word;
    for (word = strtok_r(line, ", \t", &save); word; word = strtok_r(NULL, ", \t", &save))
      printf(" %s", word);
    printf("\n");
  }
  return 0;
}
