// hdtab's command and package records and where they lie, and the reader's
// handling of damaged files. Built with AddressSanitizer: a read out of bounds fails.
#include "elf32.h"
#include "meta_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> load(const std::string &path) {
  std::string err;
  auto bytes = elf32::read_file(path, err);
  EXPECT_TRUE(bytes) << path << ": " << err;
  return bytes.value_or(std::vector<uint8_t>{});
}

std::vector<uint8_t> hdtab() {
  return load(KIVOS_BIN_DIR "/hdtab");
}

const elf32::section &section(const elf32::file &f, const std::string &name) {
  static const elf32::section none{};
  for (const auto &s : f.sections)
    if (s.name == name) return s;
  ADD_FAILURE() << "no section " << name;
  return none;
}

std::string run(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  char buf[4096];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  pclose(p);
  return out;
}

TEST(Metadata, RecordPlacement) {
  std::vector<uint8_t> bytes = hdtab();
  std::string err;
  auto f = elf32::parse(bytes, err);
  ASSERT_TRUE(f) << err;
  const auto &cmd = section(*f, ".kivos.cmdmeta");
  const auto &pkg = section(*f, ".kivos.pkgmeta");
  EXPECT_EQ(cmd.align, 32u);
  EXPECT_EQ(pkg.align, 4u);
  EXPECT_EQ(cmd.addr % 32, 0u);
  for (const auto *s : {&cmd, &pkg}) EXPECT_EQ(s->flags, SHF_ALLOC) << s->name;
  // Loaded right after the read-only data, in its segment.
  const auto &rodata = section(*f, ".rodata");
  EXPECT_GE(cmd.addr, rodata.addr + rodata.size);
  EXPECT_LT(cmd.addr, rodata.addr + rodata.size + 32);
  EXPECT_GE(pkg.addr, cmd.addr + cmd.size);
  EXPECT_LT(pkg.addr, cmd.addr + cmd.size + 4);
  auto segment_of = [&](uint32_t addr) {
    for (size_t i = 0; i < f->segments.size(); ++i) {
      const auto &s = f->segments[i];
      if (s.type == PT_LOAD && addr - s.vaddr < s.memsz) return int(i);
    }
    return -1;
  };
  EXPECT_EQ(segment_of(cmd.addr), segment_of(rodata.addr));
  EXPECT_EQ(segment_of(pkg.addr + pkg.size - 1), segment_of(rodata.addr));
  EXPECT_EQ(f->segments[size_t(segment_of(cmd.addr))].flags, PF_R);
}

void expect_records(const kivos_meta::report &r) {
  EXPECT_TRUE(r.errors.empty()) << r.errors.front();
  ASSERT_TRUE(r.command && r.package);
  EXPECT_EQ(r.command->strings,
            (std::vector<std::string>{"List detected logical drives.", "hdtab"}));
  EXPECT_EQ(r.package->strings, (std::vector<std::string>{"hdtab", "2"}));
  EXPECT_EQ(r.command->size, 45u);
  EXPECT_EQ(r.package->size, 17u);
}

TEST(Metadata, ReaderFindsBoth) {
  expect_records(kivos_meta::read(hdtab()));
}

TEST(Metadata, FoundThroughProgramHeadersWithoutSections) {
  std::string out = std::string(KIVOS_TEST_TMP "/nosections");
  run("llvm-objcopy --strip-sections " KIVOS_BIN_DIR "/hdtab " + out);
  auto r = kivos_meta::read(load(out));
  expect_records(r);
  EXPECT_FALSE(r.command->from_section);
}

// Damaged copies of hdtab, each with the fault the reader must name.
struct damage_case {
  const char *name;
  std::function<void(std::vector<uint8_t> &, const elf32::file &)> damage;
  const char *error;
};

uint8_t *at(std::vector<uint8_t> &b, const elf32::file &f, const char *name, uint32_t offset = 0) {
  for (const auto &s : f.sections)
    if (s.name == name) return b.data() + s.offset + offset;
  return nullptr;
}

uint32_t header_of(const elf32::file &f, const char *name) {
  for (size_t i = 0; i < f.sections.size(); ++i)
    if (f.sections[i].name == name) return uint32_t(i);
  return 0;
}

void set32(uint8_t *p, uint32_t v) {
  std::memcpy(p, &v, 4);
}

// The section header of `name`, field at byte `field`.
uint8_t *shdr(std::vector<uint8_t> &b, const elf32::file &f, const char *name, uint32_t field) {
  uint32_t shoff;
  std::memcpy(&shoff, b.data() + 32, 4);
  return b.data() + shoff + 40 * header_of(f, name) + field;
}

const damage_case damage_cases[] = {
    {"truncated", [](auto &b, auto &) { b.resize(b.size() - 50); }, "section headers run past"},
    {"section_past_end",
     [](auto &b, auto &f) { set32(shdr(b, f, ".kivos.cmdmeta", 16), uint32_t(b.size() - 10)); },
     "section .kivos.cmdmeta runs past the end of the file"},
    {"huge_section", [](auto &b, auto &f) { set32(shdr(b, f, ".kivos.pkgmeta", 20), 0xffffffff); },
     "section .kivos.pkgmeta runs past the end of the file"},
    {"wrong_magic", [](auto &b, auto &f) { *at(b, f, ".kivos.cmdmeta") = 'X'; },
     "command record: wrong magic \"XCMD\", expected \"KCMD\""},
    {"wrong_version", [](auto &b, auto &f) { *at(b, f, ".kivos.pkgmeta", 4) = 2; },
     "package record: format version 2, only version 1 is known"},
    {"string_without_nul",
     [](auto &b, auto &f) {
       for (uint32_t i = 8; i < 45; ++i) *at(b, f, ".kivos.cmdmeta", i) = 'x';
     },
     "command record: the summary has no terminating NUL"},
    {"name_without_nul",
     [](auto &b, auto &f) {
       for (uint32_t i = 14; i < 17; ++i) *at(b, f, ".kivos.pkgmeta", i) = 'x';
     },
     "package record: the version has no terminating NUL"},
    {"missing_final_nul", [](auto &b, auto &f) { *at(b, f, ".kivos.pkgmeta", 16) = 'x'; },
     "package record: the final NUL after the version is missing"},
    {"bytes_after_record", [](auto &b, auto &f) { set32(shdr(b, f, ".kivos.pkgmeta", 20), 18); },
     "package record: 1 bytes follow its final NUL"},
    {"too_short", [](auto &b, auto &f) { set32(shdr(b, f, ".kivos.cmdmeta", 20), 6); },
     "command record: 6 bytes, too short"},
    {"writable", [](auto &b, auto &f) { set32(shdr(b, f, ".kivos.cmdmeta", 8), 3); },
     "section .kivos.cmdmeta is not allocated read-only data"},
    {"missing",
     [](auto &b, auto &f) {
       // Rename the section in the name table.
       std::string names(at(b, f, ".shstrtab"), b.data() + b.size());
       *at(b, f, ".shstrtab", uint32_t(names.find(".kivos.pkgmeta") + 1)) = 'X';
     },
     "no package record"},
};

class Damaged : public testing::TestWithParam<damage_case> {};

TEST_P(Damaged, NamesTheFault) {
  std::vector<uint8_t> bytes = hdtab();
  std::string err;
  auto f = elf32::parse(bytes, err);
  ASSERT_TRUE(f);
  GetParam().damage(bytes, *f);
  auto r = kivos_meta::read(bytes);
  ASSERT_FALSE(r.errors.empty());
  std::string all;
  for (const auto &e : r.errors) all += e + "\n";
  EXPECT_NE(all.find(GetParam().error), std::string::npos) << all;
}

INSTANTIATE_TEST_SUITE_P(Metadata, Damaged, testing::ValuesIn(damage_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// A summary of any bytes comes out as valid JSON (read back by a real
// parser) and as text without raw control bytes.
TEST(MetadataCommand, EscapesEveryByte) {
  std::vector<uint8_t> bytes = hdtab();
  std::string err;
  auto f = elf32::parse(bytes, err);
  const char odd[] = "\xff\x80\x01\t\"\\\x7f";
  std::memcpy(bytes.data() + section(*f, ".kivos.cmdmeta").offset + 8, odd, sizeof odd - 1);
  std::string path = KIVOS_TEST_TMP "/odd_summary";
  std::FILE *out = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  std::fclose(out);
  std::string tool = KIVOS_META_PATH;
  EXPECT_EQ(run(tool + " --json " + path +
                " | python3 -c 'import json,sys; "
                "print(ascii(json.load(sys.stdin)[0][\"command\"][\"summary\"][:7]))'"),
            "'\\xff\\x80\\x01\\t\"\\\\\\x7f'\n");
  EXPECT_NE(run(tool + " " + path).find("summary        \\xff\\x80\\x01\\x09\\\"\\\\\\x7f"),
            std::string::npos);
}

} // namespace
