/* Greets whoever its arguments name; built with the kivos CMake toolchain. */
#include <stdio.h>

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) printf("Hello, %s!\n", argv[i]);
  return argc - 1;
}
