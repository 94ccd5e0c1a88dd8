/* Ending the process (nothing after exit or abort may run) and seeding. */
#include "probe.h"
#undef NDEBUG /* the build type sets it; this program tests assert */
#include <assert.h>
#include <stdlib.h>
#include <unistd.h>

static void handler(void) {
  puts("handler ran");
}

/* A file-write stream never closed is never written. */
CASE(exit_3) {
  atexit(handler);
  FILE *f = fopen("never", "w");
  fputs("lost", f);
  exit(3);
  puts("after exit");
}

CASE(exit_minus_one) {
  exit(-1);
}

CASE(abort) {
  atexit(handler);
  abort();
  puts("after abort");
}

CASE(first_rand) {
  report((unsigned)rand(), 0);
}

/* Waits on a pipe only it could write to. */
CASE(deadlock) {
  int p[2];
  char c;
  pipe(p);
  read(p[0], &c, 1);
}

/* Ends while its child still waits for input. */
CASE(outlive) {
  int p[2];
  char *args[] = {"child", "cat", "0", NULL};
  pipe(p);
  fd_set_stdio(p[0], -1, -1);
  spawn("child", args, 3);
  exit(5);
}

CASE(assert_fails) {
  assert(1 + 1 == 3);
}
