// A pointer into the first page of the address space (null included) never
// carries a string: the functions that measure strings answer without reading.
#pragma once

#include <stdint.h>

inline bool in_first_page(const void *p) {
  return uintptr_t(p) <= 4095;
}
