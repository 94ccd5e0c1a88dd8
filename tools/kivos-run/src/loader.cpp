// Lays out a kivos executable's address space in guest memory. It needs no
// emulator, so its fuzzer runs without one.
#include "loader.h"

#include "../../common/elf32.h"
#include "../../common/text.h"

#include <algorithm>
#include <cstring>

namespace kivos {
namespace {

using tools::hex8;

// More mapped regions than this make no sense for a kivos program and slow
// the emulator down (it gives up entirely at a few thousand).
constexpr size_t max_regions = 256;

// Maps the loadable segments, each page with the union of the permissions
// of the segments touching it; returns an error text. The work grows with
// the number of segments, not with their sizes.
std::string load_segments(const elf32::file &f, std::span<const uint8_t> bytes, uint32_t stack_low,
                          guest_memory &memory) {
  // Page-aligned address ranges with their permissions: first one per
  // segment, then the regions to map.
  struct page_span {
    uint64_t begin, end;
    uint32_t prot;
  };
  std::vector<page_span> spans;
  std::vector<uint64_t> cuts;
  for (size_t i = 0; i < f.segments.size(); ++i) {
    const elf32::segment &s = f.segments[i];
    if (s.type != PT_LOAD) continue;
    std::string name = "segment " + std::to_string(i);
    if (s.filesz > s.memsz) return name + " holds more file bytes than memory bytes";
    if (s.memsz == 0) continue;
    if (!elf32::slice(bytes, s.offset, s.filesz)) return name + " runs past the end of the file";
    uint64_t end = uint64_t(s.vaddr) + s.memsz;
    if (end > 0x100000000ull) return name + " runs past the top of the address space";
    if (s.vaddr < low_limit)
      return name + " starts at " + hex8(s.vaddr) + ", in the first 64 KiB, which stay unmapped";
    if (end > stack_low - page_size) return name + " overlaps the stack at " + hex8(stack_low);
    uint32_t prot = (s.flags & PF_R ? prot_read : 0) | (s.flags & PF_W ? prot_write : 0) |
                    (s.flags & PF_X ? prot_exec : 0);
    uint64_t begin = s.vaddr & ~uint64_t(page_size - 1);
    end = (end + page_size - 1) & ~uint64_t(page_size - 1);
    spans.push_back({begin, end, prot});
    cuts.insert(cuts.end(), {begin, end});
  }
  if (spans.empty()) return "no loadable segments";
  if (spans.size() > max_regions)
    return "has " + std::to_string(spans.size()) +
           " loadable segments; the stand-in maps at most " + std::to_string(max_regions);
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  // Between two neighbouring cuts every page is covered by the same segments.
  std::vector<page_span> pieces;
  uint64_t total = 0;
  for (size_t i = 0; i + 1 < cuts.size(); ++i) {
    bool covered = false;
    uint32_t prot = 0;
    for (const page_span &x : spans) {
      if (x.begin <= cuts[i] && cuts[i + 1] <= x.end) {
        covered = true;
        prot |= x.prot;
      }
    }
    if (!covered) continue;
    total += cuts[i + 1] - cuts[i];
    if (!pieces.empty() && pieces.back().end == cuts[i] && pieces.back().prot == prot)
      pieces.back().end = cuts[i + 1];
    else
      pieces.push_back({cuts[i], cuts[i + 1], prot});
  }
  if (total > (1u << 30)) return "needs more than the 1 GiB of memory the stand-in provides";
  if (pieces.size() > max_regions)
    return "needs " + std::to_string(pieces.size()) +
           " regions of memory; the stand-in maps at most " + std::to_string(max_regions);
  for (const page_span &p : pieces)
    memory.regions.push_back(make_region(uint32_t(p.begin), uint32_t(p.end - p.begin), p.prot));
  for (const elf32::segment &s : f.segments) {
    if (s.type != PT_LOAD || s.filesz == 0) continue;
    const uint8_t *src = bytes.data() + s.offset;
    for (uint32_t done = 0; done < s.filesz;) {
      uint32_t addr = s.vaddr + done;
      region *r = nullptr;
      for (region &x : memory.regions)
        if (addr - x.base < x.size) r = &x;
      uint32_t n = std::min(s.filesz - done, r->size - (addr - r->base));
      std::memcpy(r->host + (addr - r->base), src + done, n);
      done += n;
    }
  }
  return {};
}

// The marks of an executable made for another system, whose system calls a
// kivos kernel would misread: a dynamic loader, dynamic linking, another
// system's OS/ABI byte or ABI note. Empty when there is none.
std::string foreign_marks(const elf32::file &f, std::span<const uint8_t> bytes) {
  if (f.osabi != ELFOSABI_NONE)
    return "built for another system (OS/ABI " + std::to_string(f.osabi) +
           (f.osabi == ELFOSABI_LINUX ? ", Linux" : "") + ")";
  for (const elf32::segment &s : f.segments) {
    if (s.type == PT_INTERP) return "asks for a dynamic loader: a program of another system";
    if (s.type == PT_DYNAMIC) return "dynamically linked: a program of another system";
    if (s.type != PT_NOTE) continue;
    auto notes = elf32::slice(bytes, s.offset, s.filesz);
    for (size_t at = 0; notes && at + 12 <= notes->size();) {
      uint32_t word[3];
      std::memcpy(word, notes->data() + at, 12);
      size_t name_at = at + 12, desc_at = name_at + ((uint64_t(word[0]) + 3) & ~3ull);
      if (desc_at > notes->size() || word[0] > notes->size()) break;
      std::string name(reinterpret_cast<const char *>(notes->data() + name_at),
                       word[0] ? word[0] - 1 : 0);
      if ((name == "GNU" && word[2] == NT_GNU_ABI_TAG) || name == "FreeBSD" || name == "NetBSD" ||
          name == "OpenBSD")
        return "carries the ABI note of another system (" + name + ")";
      at = desc_at + ((uint64_t(word[1]) + 3) & ~3ull);
    }
  }
  return {};
}

// The start-up stack: argc at the stack pointer, then the argument pointers
// and a null pointer, the strings above them.
std::string build_stack(guest_memory &memory, uint32_t stack_size,
                        const std::vector<std::string> &args, uint32_t &sp) {
  memory.regions.push_back(make_region(stack_top - stack_size, stack_size, prot_read | prot_write));
  uint64_t total = 0;
  for (const std::string &a : args) total += a.size() + 1;
  total += 4 * (args.size() + 2);
  if (total > stack_size / 2) return "the arguments do not fit on the stack";
  uint32_t strings = stack_top - 16 - uint32_t(total);
  std::vector<uint32_t> words = {uint32_t(args.size())};
  uint32_t at = strings;
  for (const std::string &a : args) {
    words.push_back(at);
    memory.write(at, a.c_str(), uint32_t(a.size() + 1));
    at += uint32_t(a.size() + 1);
  }
  words.push_back(0);
  sp = (strings - 4 * uint32_t(words.size())) & ~3u;
  memory.write(sp, words.data(), uint32_t(4 * words.size()));
  return {};
}

} // namespace

std::string load_program(const run_options &options, guest_memory &memory, uint32_t &entry,
                         uint32_t &sp, elf32::symbol_table *symbols) {
  std::string err;
  auto bytes = elf32::read_file(options.program, err);
  if (!bytes) return err;
  std::vector<std::string> args = options.args;
  if (args.empty()) args.push_back(options.program);
  return load_image(*bytes, args, options.stack_size, memory, entry, sp, symbols);
}

std::string load_image(std::span<const uint8_t> image, const std::vector<std::string> &args,
                       uint32_t stack_size, guest_memory &memory, uint32_t &entry, uint32_t &sp,
                       elf32::symbol_table *symbols) {
  std::string err;
  auto f = elf32::parse(image, err);
  if (!f) return "not a kivos executable: " + err;
  if (f->type != ET_EXEC)
    return "not a kivos executable: ELF type " + std::to_string(f->type) +
           ", where a static executable (type 2) is needed";
  if (f->machine != EM_386)
    return "not a kivos executable: built for ELF machine " + std::to_string(f->machine) +
           ", not for 32-bit x86 (3)";
  if (std::string foreign = foreign_marks(*f, image); !foreign.empty())
    return "not a kivos executable: " + foreign;
  uint32_t stack_low = stack_top - stack_size;
  if (stack_size < 4 * page_size || stack_size % page_size || stack_size > 0x40000000)
    return "stack size must be a multiple of 4096 from 16 KiB to 1 GiB";
  err = load_segments(*f, image, stack_low, memory);
  if (!err.empty()) return "not a kivos executable: " + err;
  if (!memory.find(f->entry, prot_exec))
    return "not a kivos executable: entry point " + hex8(f->entry) + " is not in executable memory";
  entry = f->entry;
  if (symbols) *symbols = std::move(f->symbols);
  return build_stack(memory, stack_size, args, sp);
}

} // namespace kivos
