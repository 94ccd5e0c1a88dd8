// A way past the slowest part of a guest store in Unicorn 2.0.1, which is
// what Debian 12 ships. There every store to guest memory calls
// page_collection_lock() and page_collection_unlock(): the first allocates
// and fills a tree of the pages to lock, the second frees it. This build of
// the library has its page locks compiled out, and the pointer the first
// returns is only ever handed back to the second. The library calls both
// through its procedure linkage table under the names below, so the
// definitions here, exported by the executable, are the ones it reaches.
// With the shortcut on, lock returns null and unlocking null does nothing;
// otherwise, and with any other Unicorn, they forward to the library's own.
// Remove this file when Debian ships Unicorn 2.1 or later, which no longer
// does this work on every store.
#include "store_shortcut.h"

#include <kivos/run.h>

#include <atomic>
#include <cstdint>
#include <dlfcn.h>
#include <unicorn/unicorn.h>

namespace {

using lock_fn = void *(void *, uint64_t, uint64_t);
using unlock_fn = void(void *);

std::atomic<bool> g_on{false};
std::atomic<uint64_t> g_taken{0};

// The library's own functions, found past this executable.
lock_fn *library_lock() {
  static auto *f = reinterpret_cast<lock_fn *>(dlsym(RTLD_NEXT, "page_collection_lock_x86_64"));
  return f;
}
unlock_fn *library_unlock() {
  static auto *f = reinterpret_cast<unlock_fn *>(dlsym(RTLD_NEXT, "page_collection_unlock_x86_64"));
  return f;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) void *page_collection_lock_x86_64(void *uc, uint64_t start,
                                                                         uint64_t end) {
  if (g_on.load(std::memory_order_relaxed)) {
    g_taken.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
  }
  return library_lock()(uc, start, end);
}

// The library's lock never returns null (its allocator aborts instead), so a
// null set is always one of ours, whatever the shortcut is now.
__attribute__((visibility("default"))) void page_collection_unlock_x86_64(void *set) {
  if (set) library_unlock()(set);
}

} // extern "C"

namespace kivos {

bool use_store_shortcut(bool wanted) {
  // uc_version() answers major << 24 | minor << 16 | patch << 8 | extra.
  bool on =
      wanted && uc_version(nullptr, nullptr) >> 8 == 0x020001 && library_lock() && library_unlock();
  g_on.store(on, std::memory_order_relaxed);
  return on;
}

uint64_t store_shortcuts_taken() {
  return g_taken.load(std::memory_order_relaxed);
}

} // namespace kivos
