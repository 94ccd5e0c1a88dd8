// Streams on real files: the traps each case makes and the files it leaves.
// The cases check their own results inside (see inside_test.cpp).
#include "harness.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <kivos/syscalls.h>
#include <map>

namespace {

struct stream_run {
  test::temp_dir dir;
  kivos::run_result result;
  explicit stream_run(const std::string &name, kivos::trap_override kernel = {}) {
    test::write_file(dir.file("ten"), "0123456789");
    test::write_file(dir.file("ff"), "a\xff"
                                     "b");
    kivos::run_options o = test::options("file_streams", {name});
    o.root = dir.path;
    o.override_result = std::move(kernel);
    o.input = "ab";
    result = kivos::run(o);
  }
  std::map<uint32_t, int> counts() const {
    std::map<uint32_t, int> n;
    for (const auto &t : test::calls(result)) ++n[t.number];
    return n;
  }
};

using K = std::map<uint32_t, int>;
constexpr uint32_t open = KIVOS_SYS_OPEN, read = KIVOS_SYS_READ, close = KIVOS_SYS_CLOSE,
                   writefile = KIVOS_SYS_WRITEFILE;

TEST(FileStreams, TrapsPerCase) {
  // One read per fgetc and per fread, none for ftell or an oversized fread;
  // fopen for writing makes no trap, fclose one writefile; descriptors
  // below 3 are never closed; nothing of a redirected stdout reaches the console.
  const std::pair<const char *, K> cases[] = {
      {"fgetc_bytes", K{{open, 1}, {read, 4}, {close, 1}}},
      {"fread_short", K{{open, 1}, {read, 2}, {close, 1}}},
      {"open_modes", K{{open, 2}, {read, 1}, {close, 1}}},
      {"write_file", K{{writefile, 2}}},
      {"write_fails", K{{writefile, 1}}},
      {"redirected_stdout", K{{writefile, 1}, {open, 1}, {read, 1}, {close, 1}}},
      {"low_descriptor", K{}},
  };
  for (const auto &[name, want] : cases) EXPECT_EQ(stream_run(name).counts(), want) << name;
}

TEST(FileStreams, FilesWrittenWholeAtClose) {
  stream_run run("write_file");
  std::vector<std::string> written;
  for (const auto &t : run.result.traps)
    if (t.number == writefile) written.push_back(t.data);
  EXPECT_EQ(written, (std::vector<std::string>{std::string("hello 42!\0\n", 11), ""}));
  EXPECT_EQ(test::read_file(run.dir.file("out")), std::string("hello 42!\0\n", 11));
  EXPECT_EQ(std::filesystem::file_size(run.dir.file("empty")), 0u);
  EXPECT_EQ(test::read_file(stream_run("redirected_stdout").dir.file("log")), "hi\nn=7\n");
}

// Results as the kernel gives them: a close failure, an overlong read (fread
// never returns more elements than asked; the position counts what the
// kernel said), a writefile result that is not negative.
TEST(FileStreams, KernelResults) {
  EXPECT_EQ(test::reports(stream_run("close_result", test::answer(close, -77)).result),
            std::vector<int32_t>{-77});
  stream_run overlong("fread_result", test::answer(read, 1000));
  EXPECT_EQ(test::reports(overlong.result), std::vector<int32_t>{3});
  EXPECT_EQ(overlong.result.traps[overlong.result.traps.size() - 2].ecx, 1000u);
  EXPECT_EQ(stream_run("write_file", test::answer(writefile, 12345)).result.exit_status, 0);
}

// fscanf takes its input a byte at a time: every read asks for one byte.
TEST(FileStreams, FscanfReadsByteByByte) {
  stream_run run("fscanf_tokens");
  ASSERT_EQ(run.result.exit_status, 0) << run.result.console;
  int reads = 0;
  for (const auto &t : run.result.traps)
    if (t.number == read && ++reads) EXPECT_EQ(t.edx, 1u);
  EXPECT_GT(reads, 300);
}

} // namespace
