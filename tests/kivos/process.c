/* Ending the process (nothing after exit or abort may run) and seeding. */
#include "probe.h"
#include <stdlib.h>

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
