#include "probe.h"

int probe_failures;

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
