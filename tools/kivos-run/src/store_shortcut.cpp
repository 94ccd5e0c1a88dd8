// A way past the slowest part of a guest store in Unicorn 2.0.1, which is
// what Debian 12 ships. There every store the slow path makes (all stores
// to pages that can hold code) calls page_collection_lock() and
// page_collection_unlock(): the first allocates and fills a tree of the
// pages to lock, the second frees it. This build of the library has its
// page locks compiled out, and the pointer the first returns is only ever
// handed back to the second. Both are wrapped at link time
// (unicorn_wraps.h): with the shortcut on, lock returns null and unlocking
// null does nothing; otherwise they forward to the library's own. Remove
// this file when Debian ships Unicorn 2.1 or later, which no longer does
// this work on every store.
#include "store_shortcut.h"
#include "unicorn_wraps.h"

#include <kivos/run.h>

#include <atomic>

namespace {

std::atomic<bool> g_on{false};
std::atomic<uint64_t> g_taken{0};

} // namespace

#if KIVOS_UNICORN_SHORTCUTS
extern "C" {

void *__wrap_page_collection_lock_x86_64(void *uc, uint64_t start, uint64_t end) {
  if (g_on.load(std::memory_order_relaxed)) {
    g_taken.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
  }
  return __real_page_collection_lock_x86_64(uc, start, end);
}

// The library's lock never returns null (its allocator aborts instead), so a
// null set is always one of ours, whatever the shortcut is now.
void __wrap_page_collection_unlock_x86_64(void *set) {
  if (set) __real_page_collection_unlock_x86_64(set);
}

} // extern "C"
#endif

namespace kivos {

bool use_store_shortcut(bool wanted) {
  bool on = KIVOS_UNICORN_SHORTCUTS && wanted;
  g_on.store(on, std::memory_order_relaxed);
  return on;
}

uint64_t store_shortcuts_taken() {
  return g_taken.load(std::memory_order_relaxed);
}

} // namespace kivos
