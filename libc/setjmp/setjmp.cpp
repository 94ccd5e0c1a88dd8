// setjmp and longjmp for kivos's i386: the registers a call must keep, the
// stack pointer after the return and the return address. Beyond the
// core runtime; the host build, whose sanitizers would not follow such
// a jump, has none.
#include <setjmp.h>

#if defined(__i386__)
__asm__(".text\n"
        ".globl setjmp\n"
        ".type setjmp, @function\n"
        "setjmp:\n"
        "  movl 4(%esp), %eax\n"
        "  movl %ebx, 0(%eax)\n"
        "  movl %esi, 4(%eax)\n"
        "  movl %edi, 8(%eax)\n"
        "  movl %ebp, 12(%eax)\n"
        "  leal 4(%esp), %ecx\n" // the stack as the caller will have it
        "  movl %ecx, 16(%eax)\n"
        "  movl (%esp), %ecx\n" // where the call returns to
        "  movl %ecx, 20(%eax)\n"
        "  xorl %eax, %eax\n"
        "  ret\n"
        ".size setjmp, . - setjmp\n"
        ".globl longjmp\n"
        ".type longjmp, @function\n"
        "longjmp:\n"
        "  movl 4(%esp), %edx\n"
        "  movl 8(%esp), %eax\n"
        "  testl %eax, %eax\n" // setjmp never seems to return 0 twice
        "  jnz 1f\n"
        "  incl %eax\n"
        "1:\n"
        "  movl 0(%edx), %ebx\n"
        "  movl 4(%edx), %esi\n"
        "  movl 8(%edx), %edi\n"
        "  movl 12(%edx), %ebp\n"
        "  movl 16(%edx), %esp\n"
        "  jmp *20(%edx)\n"
        ".size longjmp, . - longjmp\n");
#endif
