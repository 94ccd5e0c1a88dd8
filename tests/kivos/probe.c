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

int probe_main(int argc, char **argv, const struct probe_case *cases, int count) {
  if (argc < 2) {
    puts("usage: PROGRAM CASE [ARGS...] | --list");
    return 99;
  }
  for (int i = 0; i < count; ++i) {
    if (strcmp(argv[1], "--list") == 0) {
      puts(cases[i].name);
    } else if (strcmp(argv[1], cases[i].name) == 0) {
      cases[i].run(argc - 1, argv + 1);
      return probe_failures;
    }
  }
  if (strcmp(argv[1], "--list") == 0) return 0;
  printf("unknown case %s\n", argv[1]);
  return 99;
}
