/* Prints how _start called main: the stack pointer at the call modulo 16,
   the arguments after the program's name, and whether argv ends with a null
   pointer; main's result is argc. */
#include "probe.h"

int main(int argc, char **argv) {
  /* With a frame pointer, the stack pointer at the call was ebp + 8. */
  printf("%u", ((unsigned)(unsigned long)__builtin_frame_address(0) + 8) & 15);
  for (int i = 1; i < argc; ++i) printf("[%s]", argv[i]);
  puts(argv[argc] ? " unended" : "");
  return argc;
}
