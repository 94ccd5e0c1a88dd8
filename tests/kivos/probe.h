/* Test programs: the shared checks, the case named by argv[1], and a report
   trap that shows values in the trace. */
#ifndef KIVOS_PROBE_H
#define KIVOS_PROBE_H

#include "../cases/check.h"
#include <kivos/trap.h>
#include <stdio.h>
#include <string.h>

#define PROBE_REPORT_TRAP 200

/* A trap the kernel does not serve, with these values in ebx and ecx. */
static inline void report(unsigned a, unsigned b) {
  kivos_trap(PROBE_REPORT_TRAP, a, b, 0);
}

/* Runs the case of `suite` named by argv[1]. The exit status is the number
   of failed checks, 99 for an unknown case. */
int probe_main(int argc, char **argv, const struct probe_suite *suite);

#endif
