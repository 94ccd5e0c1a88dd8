/* The main of a test program made from a suite. */
#include "probe.h"

extern const struct probe_suite PROBE_SUITE_NAME;

int main(int argc, char **argv) {
  return probe_main(argc, argv, &PROBE_SUITE_NAME);
}
