// The string functions on arbitrary strings against the host C library,
// wherever the two are meant to agree: same lengths, signs of comparisons,
// found positions and bytes written. Each string is held in a buffer of
// exactly its size, so that any read or write past it is caught.
#include <algorithm>
#include <array>
#include <cctype>
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
void *kivos_memchr(const void *s, int c, size_t n);
void *kivos_memrchr(const void *s, int c, size_t n);
size_t kivos_strspn(const char *s, const char *accept);
size_t kivos_strcspn(const char *s, const char *reject);
char *kivos_strpbrk(const char *s, const char *accept);
char *kivos_strsep(char **s, const char *delim);
char *kivos_strtok_r(char *s, const char *delim, char **save);
char *kivos_stpcpy(char *dst, const char *src);
size_t kivos_strlcpy(char *dst, const char *src, size_t size);
size_t kivos_strlcat(char *dst, const char *src, size_t size);
void kivos_qsort(void *items, size_t n, size_t size, int (*compare)(const void *, const void *));
void *kivos_bsearch(const void *key, const void *items, size_t n, size_t size,
                    int (*compare)(const void *, const void *));
int kivos_isalnum(int), kivos_isalpha(int), kivos_isblank(int), kivos_iscntrl(int);
int kivos_isdigit(int), kivos_isgraph(int), kivos_islower(int), kivos_isprint(int);
int kivos_ispunct(int), kivos_isspace(int), kivos_isupper(int), kivos_isxdigit(int);
int kivos_tolower(int), kivos_toupper(int);
}

namespace {

void expect(bool ok) {
  if (!ok) __builtin_trap();
}

int sign(int v) {
  return (v > 0) - (v < 0);
}

// Each class of the kivos runtime beside the host's, for every byte and EOF.
void compare_classes() {
  using test = int (*)(int);
  const std::pair<test, test> tests[] = {
      {kivos_isalnum, isalnum}, {kivos_isalpha, isalpha}, {kivos_isblank, isblank},
      {kivos_iscntrl, iscntrl}, {kivos_isdigit, isdigit}, {kivos_isgraph, isgraph},
      {kivos_islower, islower}, {kivos_isprint, isprint}, {kivos_ispunct, ispunct},
      {kivos_isspace, isspace}, {kivos_isupper, isupper}, {kivos_isxdigit, isxdigit}};
  for (int c = -1; c < 256; ++c) {
    for (auto [mine, host] : tests) expect(!mine(c) == !host(c));
    expect(kivos_tolower(c) == tolower(c) && kivos_toupper(c) == toupper(c));
  }
}

int by_bytes(const void *a, const void *b) {
  return std::memcmp(a, b, 3);
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

  expect(kivos_memchr(x, c, la) == std::memchr(x, c, la) &&
         kivos_memrchr(x, c, la) == memrchr(x, c, la));
  expect(kivos_strspn(x, y) == std::strspn(x, y) && kivos_strcspn(x, y) == std::strcspn(x, y) &&
         kivos_strpbrk(x, y) == std::strpbrk(x, y));
  expect(kivos_stpcpy(mine.data(), x) == mine.data() + la && std::strcmp(mine.data(), x) == 0);
  // Bounded copies, against what they promise (the host has none).
  std::vector<char> small(n + 1, 'q');
  expect(kivos_strlcpy(small.data(), x, n) == la);
  expect(n == 0 || (std::strncmp(small.data(), x, n - 1) == 0 && std::strlen(small.data()) < n));
  std::strcpy(mine.data(), y);
  expect(kivos_strlcat(mine.data(), x, mine.size()) == la + lb &&
         std::strlen(mine.data()) == la + lb);
  size_t bound = std::min(n, lb); // a destination that fills its bound already
  std::strcpy(mine.data(), y);
  expect(kivos_strlcat(mine.data(), x, bound) == bound + la);

  std::vector<char> host_a = a, sep_a = a, r_a = a;
  char *t = kivos_strtok(a.data(), y), *u = strtok(host_a.data(), y), *save, *host_save;
  for (; t && u; t = kivos_strtok(nullptr, y), u = strtok(nullptr, y))
    expect(t - a.data() == u - host_a.data());
  expect(!t && !u && a == host_a);
  t = kivos_strtok_r(r_a.data(), y, &save);
  host_a = sep_a;
  u = strtok_r(host_a.data(), y, &host_save);
  for (; t && u; t = kivos_strtok_r(nullptr, y, &save), u = strtok_r(nullptr, y, &host_save))
    expect(t - r_a.data() == u - host_a.data());
  expect(!t && !u && r_a == host_a);
  host_a = sep_a;
  for (char *p = sep_a.data(), *q = host_a.data(); p || q;) {
    char *mine_token = kivos_strsep(&p, y), *host_token = strsep(&q, y);
    expect((mine_token - sep_a.data()) == (host_token - host_a.data()) && !p == !q);
  }

  // Sorting three-byte records, then finding each.
  std::vector<char> records(data, data + (size - size % 3)), sorted = records;
  kivos_qsort(records.data(), records.size() / 3, 3, by_bytes);
  std::sort(reinterpret_cast<std::array<char, 3> *>(sorted.data()),
            reinterpret_cast<std::array<char, 3> *>(sorted.data() + sorted.size()),
            [](const auto &a, const auto &b) { return by_bytes(&a, &b) < 0; });
  expect(records == sorted);
  for (size_t at = 0; at < records.size(); at += 3)
    expect(kivos_bsearch(data + at, records.data(), records.size() / 3, 3, by_bytes));
  static const bool classes_agree = (compare_classes(), true);
  return classes_agree ? 0 : 1;
}
