#include "guest_memory.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <utility>

namespace kivos {

// Anonymous host pages: zero-filled and committed only when touched, so a
// large region costs nothing until the program uses it.
region make_region(uint32_t base, uint32_t size, uint32_t prot) {
  region r;
  r.base = base;
  r.size = size;
  r.prot = prot;
  void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                 -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  r.host = static_cast<uint8_t *>(p);
  return r;
}

region::region(region &&o) noexcept : base(o.base), size(o.size), prot(o.prot), host(o.host) {
  o.host = nullptr;
}

region &region::operator=(region &&o) noexcept {
  std::swap(base, o.base);
  std::swap(size, o.size);
  std::swap(prot, o.prot);
  std::swap(host, o.host);
  return *this;
}

region::~region() {
  if (host) munmap(host, size);
}

const region *guest_memory::find(uint32_t addr, uint32_t prot) const {
  for (const region &r : regions) {
    if (addr - r.base < r.size) return (r.prot & prot) == prot ? &r : nullptr;
  }
  return nullptr;
}

// Walks [addr, addr + len) region by region, handing each host piece to `f`.
template <typename F>
static bool walk(const guest_memory &m, uint32_t addr, uint32_t len, uint32_t prot, F &&f) {
  while (len > 0) {
    const region *r = m.find(addr, prot);
    if (!r) return false;
    uint32_t offset = addr - r->base;
    uint32_t piece = std::min(len, r->size - offset);
    f(r->host + offset, piece);
    addr += piece; // wraps only when len did, which find() then refuses
    len -= piece;
  }
  return true;
}

bool guest_memory::accessible(uint32_t addr, uint32_t len, uint32_t prot) const {
  if (len > 0 && uint64_t(addr) + len > 0x100000000ull) return false;
  return walk(*this, addr, len, prot, [](uint8_t *, uint32_t) {});
}

bool guest_memory::read(uint32_t addr, void *dst, uint32_t len, uint32_t prot) const {
  if (!accessible(addr, len, prot)) return false;
  auto *out = static_cast<uint8_t *>(dst);
  return walk(*this, addr, len, prot, [&](uint8_t *p, uint32_t n) {
    std::memcpy(out, p, n);
    out += n;
  });
}

bool guest_memory::append(uint32_t addr, uint32_t len, std::string &out) const {
  if (!accessible(addr, len, prot_read)) return false;
  return walk(*this, addr, len, prot_read,
              [&](uint8_t *p, uint32_t n) { out.append(reinterpret_cast<char *>(p), n); });
}

bool guest_memory::write(uint32_t addr, const void *src, uint32_t len) {
  if (!accessible(addr, len, prot_write)) return false;
  if (journal) journal->push_back({addr, std::string(static_cast<const char *>(src), len)});
  auto *in = static_cast<const uint8_t *>(src);
  return walk(*this, addr, len, prot_write, [&](uint8_t *p, uint32_t n) {
    std::memcpy(p, in, n);
    in += n;
    if (find(addr, prot_exec)) code_written.push_back({addr, uint64_t(addr) + n});
    addr += n;
  });
}

std::optional<std::string> guest_memory::read_string(uint32_t addr, uint32_t max,
                                                     string_error &error) const {
  std::string s;
  for (;;) {
    const region *r = find(addr, prot_read);
    if (!r) {
      error = string_error::bad_pointer;
      return std::nullopt;
    }
    const uint8_t *p = r->host + (addr - r->base);
    uint32_t avail = r->size - (addr - r->base);
    const uint8_t *nul = static_cast<const uint8_t *>(std::memchr(p, 0, avail));
    uint32_t n = nul ? uint32_t(nul - p) : avail;
    if (s.size() + n > max) {
      error = string_error::too_long;
      return std::nullopt;
    }
    s.append(reinterpret_cast<const char *>(p), n);
    if (nul) {
      error = string_error::none;
      return s;
    }
    addr += avail;
    if (addr == 0) { // ran off the top of the address space
      error = string_error::bad_pointer;
      return std::nullopt;
    }
  }
}

} // namespace kivos
