// Unicorn 2.0.1, what Debian 12 ships, lost the record of which RAM pages
// were written since their code was translated: every page counts as
// clean, so every TLB entry of a writable page carries the not-dirty flag
// and every guest store leaves the generated code for the slow helper,
// which looks the page up among the mapped regions and drops any code
// translated from the bytes it changes. That is 40-50 ns a store, ten times
// what the same code costs in the other emulator.
//
// A page the guest cannot execute holds no translated code (fetching from
// it faults), so there a store has nothing to invalidate. The library fills
// each TLB entry through tlb_set_page_with_attrs_x86_64, which is wrapped at
// link time (unicorn_wraps.h), so the definition here runs instead:
// it calls the library's, then clears the flag in the entry just made when
// the page is writable and not executable in the running guest's memory.
// Stores there stay in generated code, as in the other emulator; executable
// pages keep the flag, and with it the detection of code that rewrites
// itself. Memory hooks still see every store: code translated while one is
// installed always calls the helper. The entry is found through the TLB's
// place in the processor record, which the first such entry reveals (the
// one place in the record that leads to it), for Unicorn 2.0.1 only.
// Remove this file with the store shortcut, when Debian ships a Unicorn
// that keeps track of dirty pages again.
#include "clean_pages.h"
#include "unicorn_wraps.h"

#include <kivos/run.h>

#include <atomic>
#include <cstring>
#include <malloc.h>
#include <sys/uio.h>
#include <unicorn/unicorn.h>
#include <unistd.h>

namespace {

constexpr uint64_t page_mask = ~uint64_t(0xfff);
constexpr uint64_t not_dirty = 1u << 10; // the flag, for 4 KiB target pages

// Where the TLB lies: for each mode, a pair {mask, table} from this offset
// in the processor record, the mask being the table's size less one entry.
std::atomic<long> g_offset{-1}; // -1 not looked for yet, 0 not found
std::atomic<int> g_entry_bits{0};

thread_local const kivos::guest_memory *t_pages = nullptr;
std::atomic<uint64_t> g_made{0};

struct entry { // the first fields of an entry; the rest differ among versions
  uint64_t addr_read, addr_write, addr_code, addend;
};

// The entry for vaddr in a TLB of 2^bits-byte entries described by the pair,
// or null when the pair describes none.
entry *entry_for(const uint64_t pair[2], int bits, uint64_t vaddr) {
  uint64_t mask = pair[0], count = (mask >> bits) + 1;
  if (!pair[1] || pair[1] & 7 || mask & ((1u << bits) - 1) || count & (count - 1) || count < 64 ||
      count > (1u << 22))
    return nullptr;
  return reinterpret_cast<entry *>(pair[1] + (((vaddr >> 12) & (count - 1)) << bits));
}

bool fresh_entry(const entry *e, uint64_t vaddr) {
  uint64_t page = vaddr & page_mask;
  return e && e->addr_read == page && (e->addr_write & page_mask) == page;
}

// Reads bytes that may not be there: false instead of a crash.
bool read_safely(const void *from, void *to, size_t size) {
  iovec local{to, size}, remote{const_cast<void *>(from), size};
  return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == ssize_t(size);
}

// Right after the library made the entry for a writable page: the one place
// in the processor record that leads to it, flag set, or 0.
long find_place(void *cpu, uint64_t vaddr, int mmu_idx) {
  size_t record = malloc_usable_size(cpu); // the record is an allocation of its own
  const char *base = static_cast<const char *>(cpu);
  long found = 0;
  int matches = 0;
  for (size_t at = 0; at + 16 <= record; at += 8) {
    uint64_t pair[2];
    std::memcpy(pair, base + at, sizeof pair);
    for (int bits : {5, 6}) {
      entry copy;
      const entry *e = entry_for(pair, bits, vaddr);
      if (e && read_safely(e, &copy, sizeof copy) && fresh_entry(&copy, vaddr) &&
          (copy.addr_write & not_dirty) && ++matches == 1) {
        found = long(at) - 16 * mmu_idx;
        g_entry_bits.store(bits);
      }
    }
  }
  return matches == 1 && found > 0 ? found : 0;
}

} // namespace

#if KIVOS_UNICORN_SHORTCUTS
extern "C" void __wrap_tlb_set_page_with_attrs_x86_64(void *cpu, uint64_t vaddr, uint64_t paddr,
                                                      uint32_t attrs, int prot, int mmu_idx,
                                                      uint64_t size) {
  __real_tlb_set_page_with_attrs_x86_64(cpu, vaddr, paddr, attrs, prot, mmu_idx, size);
  if (!t_pages || size != 0x1000 || vaddr >> 32) return;
  const kivos::region *r = t_pages->find(uint32_t(vaddr), 0);
  if (!r || (r->prot & kivos::prot_exec) || !(r->prot & kivos::prot_write)) return;
  long offset = g_offset.load(std::memory_order_relaxed);
  if (offset < 0) g_offset.store(offset = find_place(cpu, vaddr, mmu_idx));
  if (!offset) return;
  uint64_t pair[2];
  std::memcpy(pair, static_cast<char *>(cpu) + offset + 16 * mmu_idx, sizeof pair);
  entry *e = entry_for(pair, g_entry_bits.load(std::memory_order_relaxed), vaddr);
  if (fresh_entry(e, vaddr)) {
    e->addr_write &= ~not_dirty;
    g_made.fetch_add(1, std::memory_order_relaxed);
  }
}
#endif

namespace kivos {

bool ready_clean_pages() {
  return KIVOS_UNICORN_SHORTCUTS && g_offset.load() != 0;
}

void note_running_pages(const guest_memory *memory) {
  t_pages = memory;
}

uint64_t clean_entries_made() {
  return g_made.load(std::memory_order_relaxed);
}

} // namespace kivos
