#include "meta_reader.h"

#include "elf32.h"

#include <algorithm>
#include <cstring>

namespace kivos_meta {

const record_kind &command_kind() {
  static const record_kind k{"command record", ".kivos.cmdmeta", "KCMD", 32, {"summary", "name"}};
  return k;
}

const record_kind &package_kind() {
  static const record_kind k{"package record", ".kivos.pkgmeta", "KPKG", 4, {"name", "version"}};
  return k;
}

namespace {

// Parses one record from `bytes`. With `exact`, the bytes are the whole
// section and nothing may follow the final NUL.
std::optional<record> parse_record(const record_kind &kind, std::span<const uint8_t> bytes,
                                   bool exact, std::string &error) {
  std::string what = kind.what;
  if (bytes.size() < 8) {
    error =
        what + ": " + std::to_string(bytes.size()) + " bytes, too short for its magic and version";
    return std::nullopt;
  }
  if (std::memcmp(bytes.data(), kind.magic, 4) != 0) {
    std::string got(bytes.begin(), bytes.begin() + 4);
    for (char &c : got)
      if (c < 0x20 || c > 0x7e) c = '?';
    error = what + ": wrong magic \"" + got + "\", expected \"" + kind.magic + "\"";
    return std::nullopt;
  }
  record r;
  r.format_version = uint32_t(bytes[4]) | uint32_t(bytes[5]) << 8 | uint32_t(bytes[6]) << 16 |
                     uint32_t(bytes[7]) << 24;
  if (r.format_version != 1) {
    error =
        what + ": format version " + std::to_string(r.format_version) + ", only version 1 is known";
    return std::nullopt;
  }
  size_t at = 8;
  for (const char *field : kind.fields) {
    auto rest = bytes.subspan(at);
    auto nul = std::find(rest.begin(), rest.end(), 0);
    if (nul == rest.end()) {
      error = what + ": the " + field + " has no terminating NUL";
      return std::nullopt;
    }
    r.strings.emplace_back(rest.begin(), nul);
    at += r.strings.back().size() + 1;
  }
  if (at >= bytes.size() || bytes[at] != 0) {
    error = what + ": the final NUL after the " + kind.fields.back() + " is missing";
    return std::nullopt;
  }
  r.size = uint32_t(at + 1);
  if (exact && r.size != bytes.size()) {
    error = what + ": " + std::to_string(bytes.size() - r.size) + " bytes follow its final NUL";
    return std::nullopt;
  }
  return r;
}

std::optional<record> from_sections(const elf32::file &f, std::span<const uint8_t> bytes,
                                    const record_kind &kind, std::vector<std::string> &errors) {
  auto s = std::find_if(f.sections.begin(), f.sections.end(),
                        [&](const elf32::section &x) { return x.name == kind.section; });
  std::string name = std::string("section ") + kind.section;
  if (s == f.sections.end()) {
    errors.push_back(std::string("no ") + kind.what + " (no section " + kind.section + ")");
    return std::nullopt;
  }
  if (s->type == SHT_NOBITS) {
    errors.push_back(name + " has no contents in the file");
    return std::nullopt;
  }
  if (!(s->flags & SHF_ALLOC) || (s->flags & (SHF_WRITE | SHF_EXECINSTR))) {
    errors.push_back(name + " is not allocated read-only data");
    return std::nullopt;
  }
  auto contents = elf32::slice(bytes, s->offset, s->size);
  if (!contents) {
    errors.push_back(name + " runs past the end of the file");
    return std::nullopt;
  }
  std::string error;
  auto r = parse_record(kind, *contents, true, error);
  if (!r) {
    errors.push_back(error);
    return std::nullopt;
  }
  r->address = s->addr;
  return r;
}

// Without section headers: the record lies at a suitably aligned address of
// a read-only loadable segment and starts with its magic.
std::optional<record> from_segments(const elf32::file &f, std::span<const uint8_t> bytes,
                                    const record_kind &kind, std::vector<std::string> &errors) {
  for (const elf32::segment &s : f.segments) {
    if (s.type != PT_LOAD || (s.flags & (PF_W | PF_X))) continue;
    auto contents = elf32::slice(bytes, s.offset, s.filesz);
    if (!contents) continue;
    for (uint32_t at = (kind.alignment - s.vaddr % kind.alignment) % kind.alignment;
         at + 4 <= contents->size(); at += kind.alignment) {
      if (std::memcmp(contents->data() + at, kind.magic, 4) != 0) continue;
      std::string error;
      auto r = parse_record(kind, contents->subspan(at), false, error);
      if (!r) {
        errors.push_back(error);
        return std::nullopt;
      }
      r->address = s.vaddr + at;
      r->from_section = false;
      return r;
    }
  }
  errors.push_back(std::string("no ") + kind.what + " in the read-only segments");
  return std::nullopt;
}

} // namespace

report read(std::span<const uint8_t> bytes) {
  report out;
  std::string error;
  auto f = elf32::parse(bytes, error);
  if (!f) {
    out.errors.push_back(error);
    return out;
  }
  auto find = f->sections.empty() ? from_segments : from_sections;
  out.command = find(*f, bytes, command_kind(), out.errors);
  out.package = find(*f, bytes, package_kind(), out.errors);
  return out;
}

} // namespace kivos_meta
