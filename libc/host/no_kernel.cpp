// The host build has no kivos kernel: every trap fails as unknown. Only the
// runtime's pure parts are meant to run there.
#include <kivos/trap.h>

extern "C" int32_t kivos_trap(uint32_t, uint32_t, uint32_t, uint32_t) {
  return -38;
}
