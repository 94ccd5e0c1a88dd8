/* How _start called main: the stack pointer modulo 16, the arguments, and
   whether argv ends with null; main's result is argc. */
#include "probe.h"

int main(int argc, char **argv) {
  /* With a frame pointer, the stack pointer at the call was ebp + 8. */
  printf("%u", ((unsigned)(unsigned long)__builtin_frame_address(0) + 8) & 15);
  for (int i = 1; i < argc; ++i) printf("[%s]", argv[i]);
  puts(argv[argc] ? " unended" : "");
  return argc;
}
