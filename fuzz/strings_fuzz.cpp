// The string functions on arbitrary strings, each held in a buffer of
// exactly its size so that any read or write past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" {
size_t kivos_strlen(const char *s);
size_t kivos_strnlen(const char *s, size_t max);
int kivos_strcmp(const char *a, const char *b);
int kivos_strncmp(const char *a, const char *b, size_t n);
int kivos_strcasecmp(const char *a, const char *b);
int kivos_strncasecmp(const char *a, const char *b, size_t n);
char *kivos_strchr(const char *s, int c);
char *kivos_strrchr(const char *s, int c);
char *kivos_strstr(const char *hay, const char *needle);
char *kivos_strncpy(char *dst, const char *src, size_t n);
char *kivos_strncat(char *dst, const char *src, size_t n);
char *kivos_strcpy(char *dst, const char *src);
char *kivos_strtok(char *s, const char *delim);
void *kivos_memmove(void *dst, const void *src, size_t n);
int kivos_memcmp(const void *a, const void *b, size_t n);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  size_t cut = data[0] % size;
  std::vector<char> a(data + 1, data + 1 + cut), b(data + 1 + cut, data + size);
  a.push_back(0);
  b.push_back(0);
  size_t la = kivos_strlen(a.data()), lb = kivos_strlen(b.data());
  if (la != std::strlen(a.data()) || kivos_strnlen(a.data(), cut) > cut) __builtin_trap();
  int sign = kivos_strcmp(a.data(), b.data());
  if ((sign > 0) != (std::strcmp(a.data(), b.data()) > 0)) __builtin_trap();
  kivos_strncmp(a.data(), b.data(), data[0]);
  kivos_strcasecmp(a.data(), b.data());
  kivos_strncasecmp(a.data(), b.data(), data[0]);
  kivos_strchr(a.data(), data[0]);
  kivos_strrchr(a.data(), data[0]);
  char *found = kivos_strstr(a.data(), b.data());
  if ((found == nullptr) != (std::strstr(a.data(), b.data()) == nullptr)) __builtin_trap();

  std::vector<char> dst(la + lb + 1);
  kivos_strcpy(dst.data(), a.data());
  kivos_strncat(dst.data(), b.data(), lb);
  if (kivos_strlen(dst.data()) != la + lb) __builtin_trap();
  std::vector<char> fixed(data[0] % 16 + 1);
  kivos_strncpy(fixed.data(), b.data(), fixed.size());
  kivos_memmove(dst.data() + 1, dst.data(), dst.size() - 1);

  for (char *t = kivos_strtok(a.data(), b.data()); t; t = kivos_strtok(nullptr, b.data()))
    if (kivos_strlen(t) == 0) __builtin_trap(); // a token is never empty
  return 0;
}
