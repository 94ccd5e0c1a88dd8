// The only place where the runtime enters the kernel.
#include <kivos/trap.h>

extern "C" int32_t kivos_trap(uint32_t number, uint32_t ebx, uint32_t ecx, uint32_t edx) {
  int32_t result;
  asm volatile("int $0x80" : "=a"(result) : "a"(number), "b"(ebx), "c"(ecx), "d"(edx) : "memory");
  return result;
}
