/* The one trap primitive of the runtime. */
#ifndef KIVOS_TRAP_H
#define KIVOS_TRAP_H

#include <stdint.h>

#include <kivos/syscalls.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__i386__)
#define KIVOS_TRAP_CC __attribute__((regparm(3)))
#else
#define KIVOS_TRAP_CC
#endif

/* Traps into the kernel with the call number in eax and the arguments in
   ebx, ecx and edx; returns eax. Every system call of the runtime goes
   through here. */
int32_t kivos_trap(uint32_t number, uint32_t ebx, uint32_t ecx, uint32_t edx) KIVOS_TRAP_CC;

#ifdef __cplusplus
}
#endif

#endif
