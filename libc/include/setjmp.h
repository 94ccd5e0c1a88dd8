/* Non-local jumps: setjmp keeps where it was called, longjmp goes back
   there; beyond the core runtime. */
#ifndef KIVOS_SETJMP_H
#define KIVOS_SETJMP_H

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned long jmp_buf[6]; /* ebx, esi, edi, ebp, esp, eip */

int setjmp(jmp_buf env) __attribute__((returns_twice));
void longjmp(jmp_buf env, int value) __attribute__((noreturn));

#ifdef __cplusplus
}
#endif

#endif
