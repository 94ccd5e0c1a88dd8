#include "elf32.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace elf32 {
namespace {

// An ELF record read from its place in the file (the host is little-endian,
// like the files).
template <typename T> T record(std::span<const uint8_t> b, size_t at) {
  T r;
  std::memcpy(&r, b.data() + at, sizeof r);
  return r;
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
  if (b.size() < SELFMAG || std::memcmp(b.data(), ELFMAG, SELFMAG) != 0) {
    error = "not an ELF file";
    return std::nullopt;
  }
  if (b.size() < sizeof(Elf32_Ehdr)) {
    error = "truncated ELF header";
    return std::nullopt;
  }
  if (b[EI_CLASS] != ELFCLASS32) {
    error = b[EI_CLASS] == ELFCLASS64 ? "a 64-bit ELF file, not a 32-bit one" : "unknown ELF class";
    return std::nullopt;
  }
  if (b[EI_DATA] != ELFDATA2LSB) {
    error = "not little-endian";
    return std::nullopt;
  }
  if (b[EI_VERSION] != EV_CURRENT) {
    error = "unknown ELF version";
    return std::nullopt;
  }
  auto h = record<Elf32_Ehdr>(b, 0);
  file f;
  f.osabi = h.e_ident[EI_OSABI];
  f.type = h.e_type;
  f.machine = h.e_machine;
  f.entry = h.e_entry;
  uint16_t phentsize = h.e_phentsize, phnum = h.e_phnum;
  uint16_t shentsize = h.e_shentsize, shnum = h.e_shnum, shstrndx = h.e_shstrndx;

  auto ph = table(b, h.e_phoff, phnum, phentsize, sizeof(Elf32_Phdr));
  if (!ph) {
    error = "program headers run past the end of the file";
    return std::nullopt;
  }
  for (uint32_t i = 0; i < phnum; ++i) {
    auto p = record<Elf32_Phdr>(*ph, size_t(i) * phentsize);
    f.segments.push_back(
        {p.p_type, p.p_offset, p.p_vaddr, p.p_filesz, p.p_memsz, p.p_flags, p.p_align});
  }

  if (h.e_shoff == 0 || shnum == 0) return f;
  auto sh = table(b, h.e_shoff, shnum, shentsize, sizeof(Elf32_Shdr));
  if (!sh) {
    error = "section headers run past the end of the file";
    return std::nullopt;
  }
  std::span<const uint8_t> names;
  if (shstrndx < shnum) {
    auto names_header = record<Elf32_Shdr>(*sh, size_t(shstrndx) * shentsize);
    auto n = slice(b, names_header.sh_offset, names_header.sh_size);
    if (!n) {
      error = "section name table runs past the end of the file";
      return std::nullopt;
    }
    names = *n;
  }
  for (uint32_t i = 0; i < shnum; ++i) {
    auto x = record<Elf32_Shdr>(*sh, size_t(i) * shentsize);
    section s;
    if (x.sh_name < names.size()) {
      auto rest = names.subspan(x.sh_name);
      rest = rest.first(std::min(rest.size(), max_section_name));
      s.name.assign(rest.begin(), std::find(rest.begin(), rest.end(), 0));
    }
    s.type = x.sh_type;
    s.flags = x.sh_flags;
    s.addr = x.sh_addr;
    s.offset = x.sh_offset;
    s.size = x.sh_size;
    s.align = x.sh_addralign;
    f.sections.push_back(std::move(s));
  }
  // The functions of the (one) symbol table, for profiles; a damaged table
  // only loses them. Names stay offsets, so that symbols sharing a long name
  // cost no copies of it.
  auto symtab = std::find_if(f.sections.begin(), f.sections.end(),
                             [](const section &s) { return s.type == SHT_SYMTAB; });
  if (symtab == f.sections.end()) return f;
  auto syms = slice(b, symtab->offset, symtab->size);
  uint32_t link = record<Elf32_Shdr>(*sh, size_t(symtab - f.sections.begin()) * shentsize).sh_link;
  if (!syms || link >= f.sections.size()) return f;
  auto strings = slice(b, f.sections[link].offset, f.sections[link].size);
  if (!strings) return f;
  f.symbols.names.assign(strings->begin(), strings->end());
  for (size_t at = 0; at + sizeof(Elf32_Sym) <= syms->size(); at += sizeof(Elf32_Sym)) {
    auto sym = record<Elf32_Sym>(*syms, at);
    if (ELF32_ST_TYPE(sym.st_info) == STT_FUNC && sym.st_name < strings->size())
      f.symbols.functions.push_back({sym.st_name, sym.st_value, sym.st_size});
  }
  std::sort(f.symbols.functions.begin(), f.symbols.functions.end(),
            [](const function &a, const function &b) { return a.address < b.address; });
  return f;
}

std::string_view symbol_table::name(const function &f) const {
  return names.c_str() + f.name; // std::string ends in a NUL of its own
}

std::optional<std::vector<uint8_t>> read_file(const std::string &path, std::string &error,
                                              uint64_t max_size) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  return read_fd(fd, error, max_size);
}

std::optional<std::vector<uint8_t>> read_fd(int fd, std::string &error, uint64_t max_size) {
  struct stat st;
  std::optional<std::vector<uint8_t>> bytes;
  if (fstat(fd, &st) != 0) {
    error = std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    error = "a directory, not a program file";
  } else if (!S_ISREG(st.st_mode)) {
    error = "not a regular file";
  } else if (uint64_t(st.st_size) > max_size) {
    error = "a file of " + std::to_string(st.st_size) + " bytes, more than the " +
            std::to_string(max_size) + " a program may have";
  } else {
    bytes.emplace(size_t(st.st_size));
    size_t got = 0;
    while (got < bytes->size()) {
      ssize_t n = ::read(fd, bytes->data() + got, bytes->size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = n < 0 ? std::strerror(errno) : "the file shrank while it was read";
        bytes.reset();
        break;
      }
      got += size_t(n);
    }
  }
  ::close(fd);
  return bytes;
}

} // namespace elf32
