/* count: the lines, words and bytes of its standard input, a filter to put
   at the end of a pipeline. */
#include <stdio.h>
#include <unistd.h>

int main(void) {
  static char buf[4096];
  long lines = 0, words = 0, bytes = 0;
  int in_word = 0;
  for (int n; (n = read(0, buf, sizeof buf)) > 0;) {
    bytes += n;
    for (int i = 0; i < n; ++i) {
      char c = buf[i];
      int space = c == ' ' || c == '\n' || c == '\t' || c == '\r';
      lines += c == '\n';
      words += !space && !in_word;
      in_word = !space;
    }
  }
  printf("%d %d %d\n", (int)lines, (int)words, (int)bytes);
  return 0;
}
