// String and memory primitives. This file is built with -fno-builtin so that
// the compiler never turns these loops back into calls of themselves.
#include "first_page.h"
#include <string.h>

namespace {

using byte = unsigned char;

int diff(byte a, byte b) {
  return int(a) - int(b);
}

} // namespace

extern "C" {

size_t strlen(const char *s) {
  if (in_first_page(s)) return 0;
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

size_t strnlen(const char *s, size_t max) {
  if (in_first_page(s)) return 0;
  size_t n = 0;
  while (n < max && s[n]) ++n;
  return n;
}

int strcmp(const char *a, const char *b) {
  if (a == b) return 0;
  if (in_first_page(a)) return -1;
  if (in_first_page(b)) return 1;
  const byte *x = reinterpret_cast<const byte *>(a);
  const byte *y = reinterpret_cast<const byte *>(b);
  for (;; ++x, ++y) {
    if (*x == 0 || *x != *y) return diff(*x, *y);
  }
}

int strncmp(const char *a, const char *b, size_t n) {
  if (n == 0 || a == b) return 0;
  if (in_first_page(a)) return -1;
  if (in_first_page(b)) return 1;
  const byte *x = reinterpret_cast<const byte *>(a);
  const byte *y = reinterpret_cast<const byte *>(b);
  for (size_t i = 0; i < n; ++i) {
    if (x[i] == 0 || x[i] != y[i]) return diff(x[i], y[i]);
  }
  return 0;
}

void *memcpy(void *dst, const void *src, size_t n) {
  byte *d = static_cast<byte *>(dst);
  const byte *s = static_cast<const byte *>(src);
  for (size_t i = 0; i < n; ++i) d[i] = s[i];
  return dst;
}

void *memmove(void *dst, const void *src, size_t n) {
  byte *d = static_cast<byte *>(dst);
  const byte *s = static_cast<const byte *>(src);
  if (d == s || n == 0) return dst;
  if (d < s) {
    for (size_t i = 0; i < n; ++i) d[i] = s[i];
  } else {
    for (size_t i = n; i-- > 0;) d[i] = s[i];
  }
  return dst;
}

void *memset(void *dst, int c, size_t n) {
  byte *d = static_cast<byte *>(dst);
  for (size_t i = 0; i < n; ++i) d[i] = byte(c);
  return dst;
}

int memcmp(const void *a, const void *b, size_t n) {
  const byte *x = static_cast<const byte *>(a);
  const byte *y = static_cast<const byte *>(b);
  for (size_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) return diff(x[i], y[i]);
  }
  return 0;
}

} // extern "C"
