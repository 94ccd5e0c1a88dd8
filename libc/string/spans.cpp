// Searching, spans, tokens and bounded copies beyond the core
// runtime, with the C library's usual meaning (null pointers are not
// tolerated here). Programs that use none of them carry none of them.
#include <string.h>

namespace {

// The bytes of `set`, as a table of 256 entries.
struct byte_set {
  bool has[256] = {};
  explicit byte_set(const char *set) {
    for (; *set; ++set) has[static_cast<unsigned char>(*set)] = true;
  }
  bool operator()(char c) const { return has[static_cast<unsigned char>(c)]; }
};

} // namespace

extern "C" {

void *memchr(const void *s, int c, size_t n) {
  for (auto *p = static_cast<const unsigned char *>(s); n--; ++p)
    if (*p == static_cast<unsigned char>(c)) return const_cast<unsigned char *>(p);
  return nullptr;
}

void *memrchr(const void *s, int c, size_t n) {
  for (auto *p = static_cast<const unsigned char *>(s) + n; n--;)
    if (*--p == static_cast<unsigned char>(c)) return const_cast<unsigned char *>(p);
  return nullptr;
}

size_t strspn(const char *s, const char *accept) {
  byte_set in(accept);
  size_t n = 0;
  while (s[n] && in(s[n])) ++n;
  return n;
}

size_t strcspn(const char *s, const char *reject) {
  byte_set in(reject);
  size_t n = 0;
  while (s[n] && !in(s[n])) ++n;
  return n;
}

char *strpbrk(const char *s, const char *accept) {
  s += strcspn(s, accept);
  return *s ? const_cast<char *>(s) : nullptr;
}

char *strsep(char **s, const char *delim) {
  char *token = *s;
  if (!token) return nullptr;
  char *end = token + strcspn(token, delim);
  *s = *end ? end + 1 : nullptr;
  *end = 0;
  return token;
}

char *strtok_r(char *s, const char *delim, char **save) {
  if (!s) s = *save;
  s += strspn(s, delim);
  if (!*s) return *save = s, nullptr;
  char *end = s + strcspn(s, delim);
  *save = *end ? end + 1 : end;
  *end = 0;
  return s;
}

char *stpcpy(char *dst, const char *src) {
  while ((*dst = *src++)) ++dst;
  return dst;
}

// Copies at most size - 1 bytes and always ends with a NUL (for size > 0);
// the result is the length it tried to make, so a result >= size means cut.
size_t strlcpy(char *dst, const char *src, size_t size) {
  size_t n = strlen(src);
  if (size) {
    size_t copy = n < size - 1 ? n : size - 1;
    memcpy(dst, src, copy);
    dst[copy] = 0;
  }
  return n;
}

size_t strlcat(char *dst, const char *src, size_t size) {
  size_t have = strnlen(dst, size);
  if (have == size) return size + strlen(src);
  return have + strlcpy(dst + have, src, size - have);
}

} // extern "C"
