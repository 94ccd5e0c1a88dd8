/* Programs that go wrong in every way the stand-in must report. */
#include "probe.h"
#include <stdint.h>

static const char ro_data[4] = "ro";

CASE(null_read) {
  report(*(volatile unsigned *)0, 0);
}
CASE(first_page_write) {
  *(volatile char *)0xfff = 1;
}
CASE(rodata_write) {
  report((unsigned)(uintptr_t)ro_data, 0);
  *(volatile char *)ro_data = 'x';
}
static void (*volatile nowhere)(void);
CASE(jump_to_zero) {
  nowhere();
}
CASE(execute_stack) {
  unsigned char code[4] = {0xc3}; /* ret */
  report((unsigned)(uintptr_t)code, 0);
  ((void (*)(void))(void *)code)();
}
CASE(invalid_instruction) {
  __asm__ volatile("ud2");
}
CASE(halt) {
  __asm__ volatile("hlt");
}
/* A far jump through a register, which no processor accepts; the emulator
   gives up on translating it. */
CASE(far_jump_register) {
  __asm__ volatile(".byte 0xff, 0xeb");
}
CASE(divide_by_zero) {
  volatile unsigned zero = 0;
  report(10 / zero, 0);
}
/* Pointer 4096 is outside the first page: strlen reads it. */
CASE(strlen_4096) {
  report((unsigned)strlen((const char *)4096), 0);
}
/* Rewrites its own code (the host test makes the code segment writable): a
   function called before and after, then an instruction of the running
   block. */
__asm__(".text\nrewrite_target: movl $1, %eax\nret\n");
int rewrite_target(void);
static int (*volatile call_target)(void) = rewrite_target;
CASE(rewrite_code) {
  static const unsigned char two[6] = {0xb8, 2, 0, 0, 0, 0xc3}; /* movl $2, %eax; ret */
  report((unsigned)call_target(), 0);
  memcpy((void *)(uintptr_t)rewrite_target, two, sizeof two);
  report((unsigned)call_target(), 0);
  unsigned seven;
  __asm__ volatile("movb $7, 1f+1\n1: movl $1, %0" : "=a"(seven) : : "memory");
  report(seven, 0);
}
CASE(endless) {
  for (;;) __asm__ volatile("");
}
static unsigned deep(unsigned n) {
  volatile char pad[4096];
  pad[0] = (char)n;
  return deep(n + 1) + pad[0];
}
CASE(stack_overflow) {
  report(deep(0), 0);
}
