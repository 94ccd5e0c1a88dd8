#include "probe.h"

static int probe_failures;

void probe_fail(const char *file, int line, const char *text) {
  printf("%s:%d: check failed: %s\n", file, line, text);
  ++probe_failures;
}

void probe_fail_values(const char *file, int line, const char *text, long long a, long long b) {
  printf("%s:%d: check failed: %s (%lld != %lld)\n", file, line, text, a, b);
  ++probe_failures;
}

int probe_main(int argc, char **argv, const struct probe_suite *suite) {
  for (int i = 0; argc > 1 && i < suite->count; ++i) {
    if (strcmp(argv[1], suite->cases[i].name) == 0) {
      suite->cases[i].run(argc - 1, argv + 1);
      return probe_failures;
    }
  }
  printf("usage: %s CASE [ARGS...], with a case of the suite\n", argv[0]);
  return 99;
}
