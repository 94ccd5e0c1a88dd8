// Unicorn 2.0.1 splits a store that is unaligned or crosses pages into byte
// stores, with a field of its engine record (`size_recur_mem`) set so that
// the bytes call no write hook of their own; it clears the field when the
// last byte is stored. When one of those bytes changes the code the engine
// is running, the library leaves the store through cpu_loop_exit_noexc()
// and the field stays set: from then on no write hook is ever called, so
// store counts stop and gdb's watchpoints never fire. That exit is wrapped
// at link time (unicorn_wraps.h), so the definition here runs first: it
// clears the field, then takes the library's exit. The field's place in the
// private record is found by a probe (below), only for Unicorn 2.0.1.
// Remove this file with the store shortcut, when Debian ships a later
// Unicorn.
#include "hook_guard.h"
#include "unicorn_wraps.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <malloc.h>
#include <vector>

namespace {

std::atomic<long> g_offset{-1}; // the field's place; -1 not looked for, 0 not found
thread_local uc_engine *t_running = nullptr;
thread_local bool t_left = false; // the library left a store since the last write hook
thread_local uint64_t t_left_count = 0;
thread_local uint64_t t_last_address = 0;
thread_local int t_last_size = 0;

// While the library stores a value byte by byte, a byte that lands on an
// unmapped page calls this hook: the fields that were 0 before the store
// and now hold the store's size are candidates.
struct probe {
  std::vector<uint8_t> before;
  int size = 0;
  std::vector<size_t> found;
};

bool on_unmapped(uc_engine *uc, uc_mem_type, uint64_t, int, int64_t, void *user) {
  auto &p = *static_cast<probe *>(user);
  const auto *now = reinterpret_cast<const uint8_t *>(uc);
  for (size_t at = 0; at + 4 <= p.before.size(); at += 4) {
    int32_t was, is;
    std::memcpy(&was, &p.before[at], 4);
    std::memcpy(&is, now + at, 4);
    if (was == 0 && is == p.size) p.found.push_back(at);
  }
  return false;
}

// Stores of 4 and then 2 bytes across into an unmapped page; the one field
// that follows both sizes is the one.
long find_field() {
  uc_engine *uc = nullptr;
  if (uc_open(UC_ARCH_X86, UC_MODE_32, &uc) != UC_ERR_OK) return 0;
  const uint8_t code[] = {0xa3, 0xfe, 0x0f, 0x02, 0x00,        // mov [0x20ffe], eax
                          0x66, 0xa3, 0xff, 0x0f, 0x02, 0x00}; // mov [0x20fff], ax
  uc_mem_map(uc, 0x10000, 0x1000, UC_PROT_ALL);
  uc_mem_map(uc, 0x20000, 0x1000, UC_PROT_READ | UC_PROT_WRITE);
  uc_mem_write(uc, 0x10000, code, sizeof code);
  size_t record = malloc_usable_size(uc);
  std::vector<size_t> both;
  for (int size : {4, 2}) {
    probe p;
    p.size = size;
    p.before.assign(reinterpret_cast<uint8_t *>(uc), reinterpret_cast<uint8_t *>(uc) + record);
    uc_hook h;
    uc_hook_add(uc, &h, UC_HOOK_MEM_WRITE_UNMAPPED, reinterpret_cast<void *>(on_unmapped), &p, 1,
                0);
    uc_emu_start(uc, size == 4 ? 0x10000 : 0x10005, 0, 0, 1);
    uc_hook_del(uc, h);
    // The store ended (its unmapped byte stopped it, without a jump out), so
    // the field is clear again.
    std::erase_if(p.found, [&](size_t at) {
      int32_t now;
      std::memcpy(&now, reinterpret_cast<uint8_t *>(uc) + at, 4);
      return now != 0;
    });
    std::sort(p.found.begin(), p.found.end());
    p.found.erase(std::unique(p.found.begin(), p.found.end()), p.found.end());
    if (size == 4)
      both = p.found;
    else
      std::erase_if(both, [&](size_t at) {
        return std::find(p.found.begin(), p.found.end(), at) == p.found.end();
      });
  }
  uc_close(uc);
  return both.size() == 1 ? long(both[0]) : 0;
}

} // namespace

#if KIVOS_UNICORN_SHORTCUTS
extern "C" [[noreturn]] void __wrap_cpu_loop_exit_noexc_x86_64(void *cpu) {
  long at = g_offset.load(std::memory_order_relaxed);
  if (at > 0 && t_running) std::memset(reinterpret_cast<char *>(t_running) + at, 0, 4);
  t_left = true;
  ++t_left_count;
  __real_cpu_loop_exit_noexc_x86_64(cpu);
}
#endif

namespace kivos {

void guard_write_hooks() {
  if (g_offset.load() >= 0) return;
  g_offset.store(KIVOS_UNICORN_SHORTCUTS ? find_field() : 0);
}

void note_running_engine(uc_engine *uc) {
  t_running = uc;
}

uint64_t stores_left() {
  return t_left_count;
}

bool store_again(uint64_t address, int size) {
  bool again = t_left && address == t_last_address && size == t_last_size;
  t_left = false;
  t_last_address = address;
  t_last_size = size;
  return again;
}

} // namespace kivos
