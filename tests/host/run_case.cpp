// Runs one case of the shared suites on the host, against the runtime built
// for x86-64 with AddressSanitizer and UndefinedBehaviorSanitizer:
//   run_case SUITE CASE
// Each case is a ctest entry and a process of its own, on a fresh heap, as it
// is under kivos-run; the status says whether a check failed.
#include "check.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#define X(name) extern "C" const probe_suite name##_suite;
KIVOS_CASE_SUITES
#undef X

static int failures;

extern "C" void probe_fail(const char *file, int line, const char *text) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, text);
  ++failures;
}

extern "C" void probe_fail_values(const char *file, int line, const char *text, long long a,
                                  long long b) {
  std::fprintf(stderr, "%s:%d: check failed: %s (%lld != %lld)\n", file, line, text, a, b);
  ++failures;
}

int main(int argc, char **argv) {
#define X(name) &name##_suite,
  for (const probe_suite *s : {KIVOS_CASE_SUITES})
#undef X
    for (int i = 0; argc == 3 && std::strcmp(argv[1], s->name) == 0 && i < s->count; ++i)
      if (std::strcmp(argv[2], s->cases[i].name) == 0) {
        s->cases[i].run(1, argv + 2);
        return failures != 0;
      }
  std::fprintf(stderr, "usage: run_case SUITE CASE, with a case of a suite\n");
  return 99;
}
