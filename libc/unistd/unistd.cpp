// System-call wrappers: each checks its pointers, loads the trap registers
// and returns the kernel's result unchanged.
#include <kivos/trap.h>
#include <unistd.h>

namespace {

uint32_t arg(const void *p) {
  return uint32_t(uintptr_t(p));
}

} // namespace

extern "C" {

ssize_t write(int fd, const void *buf, size_t count) {
  return kivos_sys_write(fd, buf, count);
}

ssize_t read(int fd, void *buf, size_t count) {
  return kivos_sys_read(fd, buf, count);
}

void _exit(int status) {
  kivos_trap(KIVOS_SYS_EXIT, status, 0, 0);
  for (;;) asm volatile("hlt");
}

int close(int fd) {
  return kivos_trap(KIVOS_SYS_CLOSE, fd, 0, 0);
}

int getkey(void) {
  return kivos_trap(KIVOS_SYS_GETKEY, 0, 0, 0);
}

int writefile(const char *path, const void *buf, size_t len) {
  if (!path || !buf) return -1;
  return kivos_trap(KIVOS_SYS_WRITEFILE, arg(path), arg(buf), kivos_clamp_count(len));
}

int usleep(unsigned int usec) {
  kivos_trap(KIVOS_SYS_USLEEP, usec, 0, 0);
  return 0;
}

// The kernel takes microseconds in 32 bits; longer sleeps are split into
// several traps that add up exactly, instead of wrapping the product.
unsigned int sleep(unsigned int sec) {
  constexpr unsigned int step = 4294; // the most whole seconds one trap holds
  while (sec > step) {
    kivos_trap(KIVOS_SYS_USLEEP, step * 1000000u, 0, 0);
    sec -= step;
  }
  kivos_trap(KIVOS_SYS_USLEEP, sec * 1000000u, 0, 0);
  return 0;
}

int mkdir(const char *path) {
  if (!path) return -1;
  return kivos_trap(KIVOS_SYS_MKDIR, arg(path), 0, 0);
}

int unlink(const char *path) {
  if (!path) return -1;
  return kivos_trap(KIVOS_SYS_UNLINK, arg(path), 0, 0);
}

int rmdir(const char *path) {
  if (!path) return -1;
  return kivos_trap(KIVOS_SYS_RMDIR, arg(path), 0, 0);
}

int getcwd(char *buf, size_t size) {
  if (!buf || size == 0) return -1;
  return kivos_trap(KIVOS_SYS_GETCWD, arg(buf), kivos_clamp_count(size), 0);
}

int kivfs_stream_begin(const char *path) {
  if (!path) return -1;
  return kivos_trap(KIVOS_SYS_STREAM_BEGIN, arg(path), 0, 0);
}

int kivfs_stream_write(int handle, const void *buf, size_t len) {
  if (!buf) return -1;
  return kivos_trap(KIVOS_SYS_STREAM_WRITE, handle, arg(buf), kivos_clamp_count(len));
}

int kivfs_stream_end(int handle) {
  return kivos_trap(KIVOS_SYS_STREAM_END, handle, 0, 0);
}

int chdir(const char *path) {
  if (!path) return -1;
  return kivos_trap(KIVOS_SYS_CHDIR, arg(path), 0, 0);
}

off_t lseek(int fd, off_t offset, int whence) {
  return kivos_trap(KIVOS_SYS_LSEEK, fd, offset, whence);
}

int pipe(int fds[2]) {
  if (!fds) return -1;
  return kivos_trap(KIVOS_SYS_PIPE, arg(fds), 0, 0);
}

int mkfifo(const char *path) {
  if (!path) return -1;
  return kivos_trap(KIVOS_SYS_MKFIFO, arg(path), 0, 0);
}

int dup(int fd) {
  return kivos_trap(KIVOS_SYS_DUP, fd, 0, 0);
}

int dup2(int oldfd, int newfd) {
  return kivos_trap(KIVOS_SYS_DUP2, oldfd, newfd, 0);
}

int fd_set_inherit(int on) {
  return kivos_trap(KIVOS_SYS_FD_SET_INHERIT, on != 0, 0, 0);
}

int fd_set_stdio(int a, int b, int c) {
  return kivos_trap(KIVOS_SYS_FD_SET_STDIO, a, b, c);
}

int fd_set_nonblock(int fd, int on) {
  return kivos_trap(KIVOS_SYS_FD_SET_NONBLOCK, fd, on != 0, 0);
}

int spawn(const char *path, char *const argv[], int argc) {
  if (!path || argc < 0) return -1;
  return kivos_trap(KIVOS_SYS_SPAWN, arg(path), arg(argv), argc);
}

int waitpid(int pid, int *status, int options) {
  return kivos_trap(KIVOS_SYS_WAITPID, pid, arg(status), options);
}

// The kernel has no access check: a file that opens for reading is accessible.
int access(const char *path, int) {
  if (!path) return -1;
  int fd = kivos_trap(KIVOS_SYS_OPEN, arg(path), 0, 0);
  if (fd < 0) return -1;
  kivos_trap(KIVOS_SYS_CLOSE, fd, 0, 0);
  return 0;
}

} // extern "C"
