/* The one trap primitive of the runtime. */
#ifndef KIVOS_TRAP_H
#define KIVOS_TRAP_H

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

#ifdef __cplusplus
}
#endif

#endif
