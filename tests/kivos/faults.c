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
