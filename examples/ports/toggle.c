/* toggle: upper case to lower and lower to upper, with <ctype.h>. */
#include <ctype.h>
#include <stdio.h>

int main(void) {
  int c;
  while ((c = getchar()) != EOF) {
    if (isupper(c))
      c = tolower(c);
    else if (islower(c))
      c = toupper(c);
    putchar(c);
  }
  return 0;
}
