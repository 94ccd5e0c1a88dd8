// String and memory primitives. This file is built with -fno-builtin so that
// the compiler never turns these loops back into calls of themselves.
#include "first_page.h"
#include <stdlib.h>
#include <string.h>

namespace {

using byte = unsigned char;

int diff(byte a, byte b) {
  return int(a) - int(b);
}

// ASCII letters only: bytes of 0x80 and above stay as they are.
byte fold(char c) {
  byte b = byte(c);
  return b >= 'A' && b <= 'Z' ? byte(b + 32) : b;
}

// Copies bytes of src up to its NUL, at most `limit` of them; returns how
// many were copied.
size_t copy_until_nul(char *dst, const char *src, size_t limit) {
  size_t i = 0;
  for (; i < limit && src[i]; ++i) dst[i] = src[i];
  return i;
}

char *duplicate(const char *s, size_t len) {
  char *p = static_cast<char *>(malloc(len + 1));
  if (!p) return nullptr;
  memcpy(p, s, len);
  p[len] = 0;
  return p;
}

int compare_folded(const char *a, const char *b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    byte x = fold(a[i]), y = fold(b[i]);
    if (x != y) return int(x) - int(y);
    if (x == 0) return 0;
  }
  return 0;
}

bool in_set(char c, const char *set) {
  for (; *set; ++set)
    if (*set == c) return true;
  return false;
}

} // namespace

extern "C" {

// strnlen without a limit: one loop for both, smaller programs.
size_t strlen(const char *s) {
  return strnlen(s, size_t(-1));
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

char *strcpy(char *dst, const char *src) {
  if (!dst) return nullptr;
  if (!src) src = "";
  size_t n = copy_until_nul(dst, src, size_t(-1));
  dst[n] = 0;
  return dst;
}

char *strncpy(char *dst, const char *src, size_t n) {
  if (!dst || n == 0) return dst;
  size_t copied = src ? copy_until_nul(dst, src, n) : 0;
  memset(dst + copied, 0, n - copied);
  return dst;
}

// A destination in the first page has length 0 and is left alone, like a
// null one.
char *strcat(char *dst, const char *src) {
  if (!dst) return nullptr;
  if (in_first_page(dst)) return dst;
  strcpy(dst + strlen(dst), src);
  return dst;
}

char *strncat(char *dst, const char *src, size_t n) {
  if (!dst) return nullptr;
  if (in_first_page(dst) || !src || n == 0) return dst;
  char *end = dst + strlen(dst);
  end[copy_until_nul(end, src, n)] = 0;
  return dst;
}

char *strchr(const char *s, int c) {
  if (!s) return nullptr;
  char want = char(c);
  for (;; ++s) {
    if (*s == want) return const_cast<char *>(s);
    if (!*s) return nullptr;
  }
}

char *strrchr(const char *s, int c) {
  if (!s) return nullptr;
  char want = char(c);
  const char *last = nullptr;
  for (;; ++s) {
    if (*s == want) last = s;
    if (!*s) return const_cast<char *>(last);
  }
}

char *strstr(const char *hay, const char *needle) {
  if (!hay || !needle) return nullptr;
  if (!*needle) return const_cast<char *>(hay);
  for (; *hay; ++hay) {
    size_t k = 0;
    while (needle[k] && hay[k] == needle[k]) ++k;
    if (!needle[k]) return const_cast<char *>(hay);
  }
  return nullptr;
}

char *strdup(const char *s) {
  if (!s) return nullptr;
  return duplicate(s, strlen(s));
}

char *strndup(const char *s, size_t n) {
  if (!s) return nullptr;
  return duplicate(s, strnlen(s, n));
}

int strcasecmp(const char *a, const char *b) {
  if (!a && !b) return 0;
  if (!a) return -1;
  if (!b) return 1;
  return compare_folded(a, b, size_t(-1));
}

int strncasecmp(const char *a, const char *b, size_t n) {
  if (n == 0 || a == b) return 0;
  if (!a) return -1;
  if (!b) return 1;
  return compare_folded(a, b, n);
}

// Cuts the string in place, one delimiter byte per token, and remembers
// where to go on in s_next.
char *strtok(char *s, const char *delim) {
  static char *s_next;
  char *p = s ? s : s_next;
  if (!p) return nullptr;
  bool has_delim = delim && *delim;
  if (has_delim) {
    while (*p && in_set(*p, delim)) ++p;
  }
  if (!*p) {
    s_next = nullptr;
    return nullptr;
  }
  char *token = p;
  if (has_delim) {
    for (; *p; ++p) {
      if (in_set(*p, delim)) {
        *p = 0;
        s_next = p + 1;
        return token;
      }
    }
  }
  s_next = nullptr;
  return token;
}

} // extern "C"
