// A failed assertion: what failed and where, then the end of the process.
#include <assert.h>
#include <stdio.h>
#include <stdlib.h>

extern "C" void kivos_assert_fail(const char *expr, const char *file, int line) {
  printf("Assertion failed: %s, file %s, line %d\n", expr, file, line);
  abort();
}
