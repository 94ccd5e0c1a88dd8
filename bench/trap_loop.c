/* Makes argv[1] one-byte writes to the console, through the runtime's write(). */
#include <unistd.h>

int main(int argc, char **argv) {
  unsigned n = 0;
  for (const char *p = argc > 1 ? argv[1] : "0"; *p >= '0' && *p <= '9'; ++p)
    n = n * 10 + (unsigned)(*p - '0');
  for (unsigned i = 0; i < n; ++i) write(1, "x", 1);
  return 0;
}
