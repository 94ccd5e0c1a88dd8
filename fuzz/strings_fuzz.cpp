// The string functions on arbitrary strings against the host C library,
// wherever the two are meant to agree: same lengths, signs of comparisons,
// found positions and bytes written. Each string is held in a buffer of
// exactly its size, so that any read or write past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <strings.h>
#include <vector>

extern "C" {
size_t kivos_strlen(const char *s);
size_t kivos_strnlen(const char *s, size_t max);
int kivos_strcmp(const char *a, const char *b);
int kivos_strncmp(const char *a, const char *b, size_t n);
int kivos_strcasecmp(const char *a, const char *b);
int kivos_strncasecmp(const char *a, const char *b, size_t n);
int kivos_memcmp(const void *a, const void *b, size_t n);
char *kivos_strchr(const char *s, int c);
char *kivos_strrchr(const char *s, int c);
char *kivos_strstr(const char *hay, const char *needle);
char *kivos_strncpy(char *dst, const char *src, size_t n);
char *kivos_strncat(char *dst, const char *src, size_t n);
char *kivos_strcpy(char *dst, const char *src);
char *kivos_strtok(char *s, const char *delim);
void *kivos_memmove(void *dst, const void *src, size_t n);
}

namespace {

void expect(bool ok) {
  if (!ok) __builtin_trap();
}

int sign(int v) {
  return (v > 0) - (v < 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  size_t cut = data[0] % size, n = data[0] % 16;
  int c = data[size - 1];
  std::vector<char> a(data + 1, data + 1 + cut), b(data + 1 + cut, data + size);
  a.push_back(0);
  b.push_back(0);
  const char *x = a.data(), *y = b.data();
  size_t la = std::strlen(x), lb = std::strlen(y);
  expect(kivos_strlen(x) == la && kivos_strnlen(x, n) == strnlen(x, n));
  expect(sign(kivos_strcmp(x, y)) == sign(std::strcmp(x, y)));
  expect(sign(kivos_strncmp(x, y, n)) == sign(std::strncmp(x, y, n)));
  expect(sign(kivos_strcasecmp(x, y)) == sign(strcasecmp(x, y)));
  expect(sign(kivos_strncasecmp(x, y, n)) == sign(strncasecmp(x, y, n)));
  size_t common = la < lb ? la : lb;
  expect(sign(kivos_memcmp(x, y, common)) == sign(std::memcmp(x, y, common)));
  expect(kivos_strchr(x, c) == std::strchr(x, c) && kivos_strrchr(x, c) == std::strrchr(x, c));
  expect(kivos_strstr(x, y) == std::strstr(x, y));

  std::vector<char> mine(la + lb + 1), theirs(la + lb + 1);
  expect(kivos_strcpy(mine.data(), x) == mine.data());
  std::strcpy(theirs.data(), x);
  expect(kivos_strncat(mine.data(), y, n) == mine.data());
  std::strncat(theirs.data(), y, n);
  expect(mine == theirs);
  std::vector<char> fixed(n + 1, 'q'), host_fixed(n + 1, 'q');
  expect(kivos_strncpy(fixed.data(), y, n + 1) == fixed.data());
  std::strncpy(host_fixed.data(), y, n + 1);
  expect(fixed == host_fixed);
  kivos_memmove(mine.data() + 1, mine.data(), mine.size() - 1);
  std::memmove(theirs.data() + 1, theirs.data(), theirs.size() - 1);
  expect(mine == theirs);

  std::vector<char> host_a = a;
  char *t = kivos_strtok(a.data(), y), *u = strtok(host_a.data(), y);
  for (; t && u; t = kivos_strtok(nullptr, y), u = strtok(nullptr, y))
    expect(t - a.data() == u - host_a.data());
  expect(!t && !u && a == host_a);
  return 0;
}
