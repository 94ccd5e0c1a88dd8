// The pseudo-random generator: a 32-bit linear congruential step with a
// 15-bit output. Without srand, the first rand seeds itself once from the
// time-stamp counter and two addresses.
#include "stdlib_impl.h"

#include <stdlib.h>

namespace {

uint32_t g_rand_state = 1;
int g_rand_seeded;

} // namespace

extern "C" {

void srand(unsigned int seed) {
  g_rand_seeded = 1;
  g_rand_state = seed ? seed : 1;
}

int rand(void) {
  if (!g_rand_seeded) {
    volatile uint32_t local = 0;
    uint64_t tsc = __builtin_ia32_rdtsc();
    uint32_t hi = uint32_t(tsc >> 32), lo = uint32_t(tsc);
    uint32_t x = uint32_t(uintptr_t(&local)) ^ uint32_t(uintptr_t(&g_heap_used)) ^ (hi * 1664525u) ^
                 lo ^ 0x9e3779b9u;
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    srand(x);
  }
  g_rand_state = g_rand_state * 1103515245u + 12345u;
  return int((g_rand_state >> 16) & 0x7fff);
}

} // extern "C"
