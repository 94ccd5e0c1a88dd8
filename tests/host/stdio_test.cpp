// The streams under a kernel that answers otherwise than the stand-in would:
// short, overlong and failed writes, overlong reads, failed closes.
#include "harness.h"

#include <gtest/gtest.h>
#include <kivos/syscalls.h>

namespace {

// A kernel that takes fewer bytes than offered gets the rest in further
// writes; one that claims more than offered has taken everything.
TEST(Stdio, ShortWritesAreContinued) {
  kivos::run_options o = test::options("stdio", {"fputs", "stdout", "abcdefg"});
  o.console_write_limit = 3;
  kivos::run_result r = kivos::run(o);
  std::vector<std::string> pieces;
  for (const auto &t : test::calls(r)) pieces.push_back(t.data);
  EXPECT_EQ(pieces, (std::vector<std::string>{"abcdefg", "defg", "g"}));
  EXPECT_EQ(r.console, "abcdefg");
  EXPECT_EQ(test::reports(r), std::vector<int32_t>{7});
}

TEST(Stdio, OverlongWriteResultCompletes) {
  kivos::run_options o = test::options("stdio", {"fputs", "stdout", "abcdefg"});
  o.override_result = test::answer(KIVOS_SYS_WRITE, 1000);
  kivos::run_result r = kivos::run(o);
  EXPECT_EQ(test::calls(r).size(), 1u);
  EXPECT_EQ(test::reports(r), std::vector<int32_t>{7});
}

TEST(Stdio, FailedWriteEndsTheFormatter) {
  for (int32_t answer : {0, -5}) {
    kivos::run_options o = test::options("stdio", {"printf", "ab%dcd", "i:42"});
    int writes = 0;
    o.override_result = [&](const kivos::trap_record &t) -> std::optional<int32_t> {
      if (t.number != KIVOS_SYS_WRITE) return std::nullopt;
      return ++writes == 3 ? answer : int32_t(t.edx);
    };
    kivos::run_result r = kivos::run(o);
    EXPECT_EQ(test::calls(r).size(), 3u) << "nothing after the failed piece";
    EXPECT_EQ(test::reports(r), std::vector<int32_t>{-1});
  }
}

TEST(Stdio, PutsSkipsNewlineAfterFailedString) {
  kivos::run_options o = test::options("stdio", {"puts", "abc"});
  o.override_result = test::answer(KIVOS_SYS_WRITE, -1);
  kivos::run_result r = kivos::run(o);
  EXPECT_EQ(test::calls(r).size(), 1u);
  EXPECT_EQ(test::reports(r), std::vector<int32_t>{-1});
}

// A close failure, an overlong read (fread never returns more elements than
// asked; the position counts what the kernel said), a writefile result that
// is not negative.
TEST(FileStreams, KernelResults) {
  test::temp_dir dir;
  test::write_file(dir.file("ten"), "0123456789");
  auto run = [&](const char *name, kivos::trap_override kernel) {
    kivos::run_options o = test::options("file_streams", {name});
    o.root = dir.path;
    o.override_result = std::move(kernel);
    return kivos::run(o);
  };
  EXPECT_EQ(test::reports(run("close_result", test::answer(KIVOS_SYS_CLOSE, -77))),
            std::vector<int32_t>{-77});
  kivos::run_result overlong = run("fread_result", test::answer(KIVOS_SYS_READ, 1000));
  EXPECT_EQ(test::reports(overlong), std::vector<int32_t>{3});
  EXPECT_EQ(overlong.traps[overlong.traps.size() - 2].ecx, 1000u);
  EXPECT_EQ(run("write_file", test::answer(KIVOS_SYS_WRITEFILE, 12345)).exit_status, 0);
}

} // namespace
