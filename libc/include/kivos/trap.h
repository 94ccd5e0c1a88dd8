/* The one trap primitive of the runtime, and the write and read wrappers
   built on it. */
#ifndef KIVOS_TRAP_H
#define KIVOS_TRAP_H

#include <stddef.h>
#include <stdint.h>

#include <kivos/syscalls.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Traps into the kernel with the call number in eax and the arguments in
   ebx, ecx and edx; returns eax. Every system call of the runtime goes
   through here. It is inlined into each wrapper, so that a system call
   costs no call of its own (and no stores for one). */
#if defined(__i386__)
static inline __attribute__((always_inline)) int32_t kivos_trap(uint32_t number, uint32_t ebx,
                                                                uint32_t ecx, uint32_t edx) {
  int32_t result;
  __asm__ volatile("int $0x80"
                   : "=a"(result)
                   : "a"(number), "b"(ebx), "c"(ecx), "d"(edx)
                   : "memory");
  return result;
}
#else
/* The host build has no kivos kernel; see host/no_kernel.cpp. */
int32_t kivos_trap(uint32_t number, uint32_t ebx, uint32_t ecx, uint32_t edx);
#endif

/* Counts are unsigned to the runtime but signed to the kernel: they are
   clamped to the largest positive int, so that one never looks negative. */
static inline __attribute__((always_inline)) uint32_t kivos_clamp_count(size_t count) {
  return count > 0x7fffffffu ? 0x7fffffffu : (uint32_t)count;
}

/* The write and read wrappers themselves: a null buffer gives -1 without
   trapping, and the count is clamped. write() and read() are these
   functions; the runtime's byte paths (the formatter's literal bytes,
   fgetc) inline them, since there a call would cost more than the work. */
static inline __attribute__((always_inline)) int32_t
kivos_sys_transfer(uint32_t number, int fd, const void *buf, size_t count) {
  if (!buf) return -1;
  return kivos_trap(number, (uint32_t)fd, (uint32_t)(uintptr_t)buf, kivos_clamp_count(count));
}

static inline __attribute__((always_inline)) int32_t kivos_sys_write(int fd, const void *buf,
                                                                     size_t count) {
  return kivos_sys_transfer(KIVOS_SYS_WRITE, fd, buf, count);
}

static inline __attribute__((always_inline)) int32_t kivos_sys_read(int fd, void *buf,
                                                                    size_t count) {
  return kivos_sys_transfer(KIVOS_SYS_READ, fd, buf, count);
}

#ifdef __cplusplus
}
#endif

#endif
