#include <errno.h>

extern "C" {
int errno;
}
