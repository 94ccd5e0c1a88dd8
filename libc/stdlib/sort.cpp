// Sorting and binary search, beyond the core runtime. qsort is a
// heapsort: no recursion, no allocation, n log n comparisons at worst.
#include <stdlib.h>

namespace {

using compare_fn = int (*)(const void *, const void *);

void swap_bytes(char *a, char *b, size_t size) {
  while (size--) {
    char t = *a;
    *a++ = *b;
    *b++ = t;
  }
}

// Moves the element at `root` down the heap of n elements until both its
// children are no greater.
void sift_down(char *base, size_t root, size_t n, size_t size, compare_fn compare) {
  for (size_t child; (child = 2 * root + 1) < n; root = child) {
    if (child + 1 < n && compare(base + child * size, base + (child + 1) * size) < 0) ++child;
    if (compare(base + root * size, base + child * size) >= 0) return;
    swap_bytes(base + root * size, base + child * size, size);
  }
}

} // namespace

extern "C" {

void qsort(void *items, size_t n, size_t size, compare_fn compare) {
  char *base = static_cast<char *>(items);
  if (n < 2 || size == 0) return;
  for (size_t i = n / 2; i-- > 0;) sift_down(base, i, n, size, compare);
  for (size_t end = n - 1; end > 0; --end) {
    swap_bytes(base, base + end * size, size);
    sift_down(base, 0, end, size, compare);
  }
}

void *bsearch(const void *key, const void *items, size_t n, size_t size, compare_fn compare) {
  const char *base = static_cast<const char *>(items);
  while (n > 0) {
    const char *middle = base + (n / 2) * size;
    int order = compare(key, middle);
    if (order == 0) return const_cast<char *>(middle);
    if (order > 0) {
      base = middle + size;
      n -= n / 2 + 1;
    } else {
      n /= 2;
    }
  }
  return nullptr;
}

} // extern "C"
