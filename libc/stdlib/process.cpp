// Process services. There are no handlers and no environment: exit ends the
// process at once (no stream is closed, so a file-write stream that was
// never closed is never written), atexit records nothing, getenv finds
// nothing.
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

extern "C" {

void exit(int status) {
  _exit(status);
}

void abort(void) {
  _exit(1);
}

int atexit(void (*)(void)) {
  return 0;
}

char *getenv(const char *) {
  return nullptr;
}

// Negating the most negative value gives it back, so it is its own result.
int abs(int x) {
  int32_t negated = int32_t(0u - uint32_t(x));
  return negated < 0 ? x : negated;
}

long labs(long x) {
  return abs(int(x));
}

} // extern "C"
