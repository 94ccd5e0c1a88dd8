/* Programs that go wrong in every way the stand-in must report. */
#include "probe.h"
#include <stdint.h>

static const char ro_data[4] = "ro";

static void null_read(int c, char **v) {
  report(*(volatile unsigned *)0, 0);
}
static void first_page_write(int c, char **v) {
  *(volatile char *)0xfff = 1;
}
static void rodata_write(int c, char **v) {
  report((unsigned)(uintptr_t)ro_data, 0);
  *(volatile char *)ro_data = 'x';
}
static void (*volatile nowhere)(void);
static void jump_to_zero(int c, char **v) {
  nowhere();
}
static void execute_stack(int c, char **v) {
  unsigned char code[4] = {0xc3}; /* ret */
  report((unsigned)(uintptr_t)code, 0);
  ((void (*)(void))(void *)code)();
}
static void invalid_instruction(int c, char **v) {
  __asm__ volatile("ud2");
}
static void halt(int c, char **v) {
  __asm__ volatile("hlt");
}
/* A far jump through a register, which no processor accepts; the emulator
   gives up on translating it. */
static void far_jump_register(int c, char **v) {
  __asm__ volatile(".byte 0xff, 0xeb");
}
static void divide_by_zero(int c, char **v) {
  volatile unsigned zero = 0;
  report(10 / zero, 0);
}
/* Pointer 4096 is outside the first page: strlen reads it. */
static void strlen_4096(int c, char **v) {
  report((unsigned)strlen((const char *)4096), 0);
}
static void endless(int c, char **v) {
  for (;;) __asm__ volatile("");
}
static unsigned deep(unsigned n) {
  volatile char pad[4096];
  pad[0] = (char)n;
  return deep(n + 1) + pad[0];
}
static void stack_overflow(int c, char **v) {
  report(deep(0), 0);
}

static const struct probe_case cases[] = {
    {"null_read", null_read},
    {"first_page_write", first_page_write},
    {"rodata_write", rodata_write},
    {"jump_to_zero", jump_to_zero},
    {"execute_stack", execute_stack},
    {"invalid_instruction", invalid_instruction},
    {"halt", halt},
    {"far_jump_register", far_jump_register},
    {"divide_by_zero", divide_by_zero},
    {"strlen_4096", strlen_4096},
    {"endless", endless},
    {"stack_overflow", stack_overflow},
};

PROBE_MAIN(cases)
