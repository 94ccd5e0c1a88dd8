// The error variable and the texts of its codes. Only the heap sets errno.
#include <errno.h>
#include <string.h>

extern "C" {

int errno;

char *strerror(int code) {
  const char *text = code == 0        ? "ok"
                     : code == ENOENT ? "no such file"
                     : code == EINVAL ? "invalid argument"
                     : code == ENOSYS ? "not implemented"
                                      : "error";
  return const_cast<char *>(text);
}

} // extern "C"
