/* Reports how _start called main: the stack alignment at the call and the
   arguments. */
#include "probe.h"

int main(int argc, char **argv) {
  /* With a frame pointer, the stack pointer at the call was ebp + 8. */
  unsigned at_call = (unsigned)(unsigned long)__builtin_frame_address(0) + 8;
  report(at_call & 15, (unsigned)argc);
  for (int i = 0; i < argc; ++i) printf("[%s]", argv[i]);
  report(argv[argc] == 0, 0);
  return argc;
}
