// The static bump heap: a 1 MiB arena handed out front to back, never reused.
// Each block is a 4-byte size word followed by the caller's bytes, rounded
// up to a multiple of 8.
#include "stdlib_impl.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr uint32_t heap_size = 1u << 20;

alignas(8) unsigned char g_heap[heap_size];

// Takes a block for `size` bytes (at least 1). The fit test never wraps:
// room is a multiple of 8, so the rounded block fits exactly when
// size + 4 <= room.
void *heap_take(size_t size) {
  uint32_t room = heap_size - g_heap_used;
  if (room < 4 || size > room - 4) {
    errno = ENOMEM;
    return nullptr;
  }
  unsigned char *block = g_heap + g_heap_used;
  uint32_t word = uint32_t(size);
  memcpy(block, &word, 4);
  g_heap_used += (word + 11) & ~7u;
  return block + 4;
}

uint32_t size_word(const void *p) {
  uint32_t word;
  memcpy(&word, static_cast<const unsigned char *>(p) - 4, 4);
  return word;
}

} // namespace

extern "C" {

uint32_t g_heap_used;

void *malloc(size_t n) {
  return heap_take(n ? n : 1);
}

void *calloc(size_t count, size_t size) {
  if (count == 0 || size == 0) return heap_take(1);
  uint32_t total;
  if (__builtin_mul_overflow(uint32_t(count), uint32_t(size), &total) || count > 0xffffffffu ||
      size > 0xffffffffu) {
    errno = ENOMEM;
    return nullptr;
  }
  void *p = heap_take(total);
  if (p) memset(p, 0, total);
  return p;
}

void *realloc(void *p, size_t n) {
  void *q = heap_take(n ? n : 1);
  if (!q || !p) return q;
  uint32_t old = size_word(p);
  uint32_t now = size_word(q);
  memcpy(q, p, old < now ? old : now);
  return q;
}

void free(void *) {}

} // extern "C"
