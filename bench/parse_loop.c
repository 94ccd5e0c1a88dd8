/* Calls strtod argv[1] times on the text argv[2], for counting the
   instructions of one call under kivos-run. */
#include <stdlib.h>

int main(int argc, char **argv) {
  if (argc < 3) return 2;
  unsigned long n = strtoul(argv[1], NULL, 10);
  volatile double sink = 0;
  for (unsigned long i = 0; i < n; ++i) sink = strtod(argv[2], NULL);
  return 0;
}
