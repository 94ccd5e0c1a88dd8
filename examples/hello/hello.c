/* hello: greets and lists its arguments. */
#include <stdio.h>

int main(int argc, char **argv) {
  printf("Hello from kivos! %d argument%s\n", argc - 1, argc == 2 ? "" : "s");
  for (int i = 1; i < argc; ++i) printf("  %d: %s\n", i, argv[i]);
  return 0;
}
