#include "elf32.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace elf32 {
namespace {

uint16_t u16(std::span<const uint8_t> b, size_t at) {
  return uint16_t(b[at] | b[at + 1] << 8);
}
uint32_t u32(std::span<const uint8_t> b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

// The table of `count` entries of `entsize` bytes at `offset`, when it lies in the file.
std::optional<std::span<const uint8_t>> table(std::span<const uint8_t> b, uint32_t offset,
                                              uint32_t count, uint32_t entsize, uint32_t minimum) {
  if (count == 0) return std::span<const uint8_t>{};
  if (entsize < minimum) return std::nullopt;
  return slice(b, offset, uint64_t(count) * entsize);
}

} // namespace

std::optional<std::span<const uint8_t>> slice(std::span<const uint8_t> bytes, uint64_t offset,
                                              uint64_t size) {
  if (offset > bytes.size() || size > bytes.size() - offset) return std::nullopt;
  return bytes.subspan(size_t(offset), size_t(size));
}

std::optional<file> parse(std::span<const uint8_t> b, std::string &error) {
  if (b.size() < 4 || std::memcmp(b.data(),
                                  "\x7f"
                                  "ELF",
                                  4) != 0) {
    error = "not an ELF file";
    return std::nullopt;
  }
  if (b.size() < 52) {
    error = "truncated ELF header";
    return std::nullopt;
  }
  if (b[4] != 1) {
    error = b[4] == 2 ? "a 64-bit ELF file, not a 32-bit one" : "unknown ELF class";
    return std::nullopt;
  }
  if (b[5] != 1) {
    error = "not little-endian";
    return std::nullopt;
  }
  if (b[6] != 1) {
    error = "unknown ELF version";
    return std::nullopt;
  }
  file f;
  f.type = u16(b, 16);
  f.machine = u16(b, 18);
  f.entry = u32(b, 24);
  uint32_t phoff = u32(b, 28), shoff = u32(b, 32);
  uint16_t phentsize = u16(b, 42), phnum = u16(b, 44);
  uint16_t shentsize = u16(b, 46), shnum = u16(b, 48), shstrndx = u16(b, 50);

  auto ph = table(b, phoff, phnum, phentsize, 32);
  if (!ph) {
    error = "program headers run past the end of the file";
    return std::nullopt;
  }
  for (uint32_t i = 0; i < phnum; ++i) {
    size_t at = size_t(i) * phentsize;
    f.segments.push_back({u32(*ph, at), u32(*ph, at + 4), u32(*ph, at + 8), u32(*ph, at + 16),
                          u32(*ph, at + 20), u32(*ph, at + 24), u32(*ph, at + 28)});
  }

  if (shoff == 0 || shnum == 0) return f;
  auto sh = table(b, shoff, shnum, shentsize, 40);
  if (!sh) {
    error = "section headers run past the end of the file";
    return std::nullopt;
  }
  std::span<const uint8_t> names;
  if (shstrndx < shnum) {
    size_t at = size_t(shstrndx) * shentsize;
    auto n = slice(b, u32(*sh, at + 16), u32(*sh, at + 20));
    if (!n) {
      error = "section name table runs past the end of the file";
      return std::nullopt;
    }
    names = *n;
  }
  for (uint32_t i = 0; i < shnum; ++i) {
    size_t at = size_t(i) * shentsize;
    section s;
    uint32_t name = u32(*sh, at);
    if (name < names.size()) {
      auto rest = names.subspan(name);
      auto end = std::find(rest.begin(), rest.end(), 0);
      s.name.assign(rest.begin(), end);
    }
    s.type = u32(*sh, at + 4);
    s.flags = u32(*sh, at + 8);
    s.addr = u32(*sh, at + 12);
    s.offset = u32(*sh, at + 16);
    s.size = u32(*sh, at + 20);
    s.align = u32(*sh, at + 32);
    f.sections.push_back(std::move(s));
  }
  return f;
}

std::optional<std::vector<uint8_t>> read_file(const std::string &path, std::string &error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "read error";
    return std::nullopt;
  }
  return bytes;
}

} // namespace elf32
