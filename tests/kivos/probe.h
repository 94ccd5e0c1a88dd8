/* Support for test programs that run under kivos-run: the shared checks, a
   case table chosen by argv[1], and a report trap that hands values to the
   host test through the trap log. */
#ifndef KIVOS_PROBE_H
#define KIVOS_PROBE_H

#include "../cases/check.h"
#include <kivos/trap.h>
#include <stdio.h>
#include <string.h>

#define PROBE_REPORT_TRAP 200

#ifdef __cplusplus
extern "C" {
#endif

/* Leaves a trap record with these values in ebx and ecx; the kernel does not serve it. */
static inline void report(unsigned a, unsigned b) {
  kivos_trap(PROBE_REPORT_TRAP, a, b, 0);
}

/* Runs the case of `suite` named by argv[1]. The exit status is the number
   of failed checks, 99 for an unknown case. */
int probe_main(int argc, char **argv, const struct probe_suite *suite);

#ifdef __cplusplus
}
#endif

#endif
