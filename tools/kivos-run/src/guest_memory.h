// The program's address space: a few regions backed by host memory and
// mapped into the emulator, so the kernel side reads and writes them directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kivos {

inline constexpr uint32_t page_size = 0x1000;
inline constexpr uint32_t prot_read = 1, prot_write = 2, prot_exec = 4;

struct region {
  uint32_t base = 0, size = 0, prot = 0;
  uint8_t *host = nullptr; // page aligned, mapped on demand by the host

  region() = default;
  region(region &&other) noexcept;
  region &operator=(region &&other) noexcept;
  ~region();
};

struct guest_memory {
  std::vector<region> regions;
  // [begin, end) of each write() into executable memory since the emulator
  // last dropped the code it had translated from there.
  std::vector<std::pair<uint32_t, uint64_t>> code_written;
  // When set, every write() is also noted here: where, and the bytes.
  std::vector<std::pair<uint32_t, std::string>> *journal = nullptr;

  // The region holding addr with at least `prot`, or null.
  const region *find(uint32_t addr, uint32_t prot) const;
  // Copies guest bytes out; false when any byte is not mapped with `prot`.
  bool read(uint32_t addr, void *dst, uint32_t len, uint32_t prot = prot_read) const;
  bool append(uint32_t addr, uint32_t len, std::string &out) const;
  bool write(uint32_t addr, const void *src, uint32_t len);
  // True when all of [addr, addr + len) is mapped with `prot`.
  bool accessible(uint32_t addr, uint32_t len, uint32_t prot) const;
  // A NUL-terminated string of at most `max` bytes before the NUL.
  enum class string_error { none, bad_pointer, too_long };
  std::optional<std::string> read_string(uint32_t addr, uint32_t max, string_error &error) const;
};

// Page-aligned, zero-filled host memory for a region.
region make_region(uint32_t base, uint32_t size, uint32_t prot);

} // namespace kivos
