/* Support for test programs that run under kivos-run: a case table chosen
   by argv[1], checks that print what failed, and a report trap that hands
   values to the host test through the trap log. */
#ifndef KIVOS_PROBE_H
#define KIVOS_PROBE_H

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

extern int probe_failures;

#define CHECK(cond)                                                                                \
  do {                                                                                             \
    if (!(cond)) {                                                                                 \
      printf("%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                              \
      ++probe_failures;                                                                            \
    }                                                                                              \
  } while (0)

#define CHECK_EQ(a, b)                                                                             \
  do {                                                                                             \
    long long probe_a = (long long)(a), probe_b = (long long)(b);                                  \
    if (probe_a != probe_b) {                                                                      \
      printf("%s:%d: check failed: %s == %s (%lld != %lld)\n", __FILE__, __LINE__, #a, #b,         \
             probe_a, probe_b);                                                                    \
      ++probe_failures;                                                                            \
    }                                                                                              \
  } while (0)

struct probe_case {
  const char *name;
  void (*run)(int argc, char **argv); /* argv[0] is the case name */
};

/* Runs the case named by argv[1]; "--list" prints the names. The exit
   status is the number of failed checks, 99 for an unknown case. */
int probe_main(int argc, char **argv, const struct probe_case *cases, int count);

#define PROBE_MAIN(cases)                                                                          \
  int main(int argc, char **argv) {                                                                \
    return probe_main(argc, argv, cases, (int)(sizeof(cases) / sizeof(cases[0])));                 \
  }

#ifdef __cplusplus
}
#endif

#endif
