/* Calls one system-call wrapper, chosen by argv[1] from the rows of
   wrapper_cases.h; the host test checks the traps it made and the result,
   handed over through the report trap. Where a pointer goes to the kernel,
   its address is reported first. */
#include "probe.h"
#include <fcntl.h>
#include <unistd.h>

static char buf[16];

#define ADDR(p) ((unsigned)(unsigned long)(p))
#define RESULT(expr) report((unsigned)(expr), 0)
#define WRAPPER(name, traps, result, ...)                                                          \
  if (strcmp(argv[1], #name) == 0) {                                                               \
    __VA_ARGS__;                                                                                   \
    return 0;                                                                                      \
  }

int main(int argc, char **argv) {
  if (argc < 2) return 99;
#include "wrapper_cases.h"
  /* Checked by tests of their own: the traps of the longest sleep add up,
     and the status reaches the host. */
  WRAPPER(sleep_max, (), 0, RESULT(sleep(0xffffffffu)))
  WRAPPER(exit, (), 0, _exit(42))
  return 99;
}
