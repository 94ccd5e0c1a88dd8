/* The kivos kernel interface: call numbers and the one trap primitive. */
#ifndef KIVOS_TRAP_H
#define KIVOS_TRAP_H

#include <stdint.h>

#define KIVOS_SYS_WRITE 1
#define KIVOS_SYS_EXIT 2
#define KIVOS_SYS_READ 3
#define KIVOS_SYS_OPEN 4
#define KIVOS_SYS_CLOSE 5
#define KIVOS_SYS_GETKEY 6
#define KIVOS_SYS_WRITEFILE 21
#define KIVOS_SYS_USLEEP 22
#define KIVOS_SYS_MKDIR 49
#define KIVOS_SYS_UNLINK 50
#define KIVOS_SYS_RMDIR 51
#define KIVOS_SYS_GETCWD 52
#define KIVOS_SYS_STREAM_BEGIN 53
#define KIVOS_SYS_STREAM_WRITE 54
#define KIVOS_SYS_STREAM_END 55
#define KIVOS_SYS_DRIVE_CURRENT 57
#define KIVOS_SYS_DRIVE_COUNT 58
#define KIVOS_SYS_DRIVE_PROBE 59
#define KIVOS_SYS_CHDIR 95
#define KIVOS_SYS_LSEEK 110
#define KIVOS_SYS_PIPE 124
#define KIVOS_SYS_MKFIFO 125
#define KIVOS_SYS_DUP 126
#define KIVOS_SYS_DUP2 127
#define KIVOS_SYS_FD_SET_INHERIT 128
#define KIVOS_SYS_FD_SET_STDIO 129
#define KIVOS_SYS_FD_SET_NONBLOCK 130
#define KIVOS_SYS_SPAWN 131
#define KIVOS_SYS_WAITPID 132

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
