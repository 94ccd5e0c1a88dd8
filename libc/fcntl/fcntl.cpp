// Opening files: the kernel wants the flags again in edx when it creates one.
#include <fcntl.h>
#include <kivos/trap.h>

extern "C" {

int open(const char *path, int flags) {
  if (!path) return -1;
  uint32_t mode = (flags & O_CREAT) ? uint32_t(flags) : 0;
  return kivos_trap(KIVOS_SYS_OPEN, uint32_t(uintptr_t(path)), flags, mode);
}

int creat(const char *path) {
  if (!path) return -1;
  return kivos_trap(KIVOS_SYS_OPEN, uint32_t(uintptr_t(path)), O_WRONLY | O_CREAT | O_TRUNC, 0);
}

} // extern "C"
