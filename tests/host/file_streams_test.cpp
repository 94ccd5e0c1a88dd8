// Streams on real files: the program's own checks, the traps they make and
// the files they leave.
#include "harness.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <kivos/syscalls.h>

namespace {

struct stream_run {
  test::temp_dir dir;
  kivos::run_result result;
  explicit stream_run(const std::string &name, const std::string &input = "",
                      kivos::trap_override kernel = {}) {
    test::write_file(dir.file("ten"), "0123456789");
    test::write_file(dir.file("ff"), "a\xff"
                                     "b");
    kivos::run_options o = test::options("file_streams", {name});
    o.root = dir.path;
    o.input = input;
    o.override_result = std::move(kernel);
    result = kivos::run(o);
  }
  size_t count(uint32_t number) const {
    size_t n = 0;
    for (const auto &t : result.traps) n += t.number == number;
    return n;
  }
};

class FileStream : public testing::TestWithParam<const char *> {};

TEST_P(FileStream, ChecksPass) {
  stream_run run(GetParam(), "ab");
  ASSERT_EQ(run.result.end, kivos::run_end::exited) << run.result.message;
  EXPECT_EQ(run.result.exit_status, 0) << run.result.console;
}

INSTANTIATE_TEST_SUITE_P(Streams, FileStream,
                         testing::Values("fread_short", "fgetc_bytes", "positioning", "open_modes",
                                         "write_file", "write_fails", "redirected_stdout",
                                         "low_descriptor", "standard_input"));

TEST(FileStreams, OneReadPerFgetcAndNoneForFtell) {
  stream_run run("fgetc_bytes");
  EXPECT_EQ(run.count(KIVOS_SYS_READ), 4u); // three bytes and the end of the file
  EXPECT_EQ(run.count(KIVOS_SYS_LSEEK), 0u);
  EXPECT_EQ(run.count(KIVOS_SYS_OPEN), 1u);
  EXPECT_EQ(run.count(KIVOS_SYS_CLOSE), 1u);
}

TEST(FileStreams, OnlyReadingOpensAFile) {
  stream_run run("open_modes");
  EXPECT_EQ(run.count(KIVOS_SYS_OPEN), 2u); // "missing" and "r+"; not "a" or "x"
}

// The example from the README, as a user runs it.
TEST(FileStreams, UpcaseExample) {
  test::temp_dir dir;
  test::write_file(dir.file("notes.txt"), "hello kivos\nsecond line\n");
  kivos::run_options o = test::options("hdtab");
  o.program = KIVOS_BIN_DIR "/upcase";
  o.args = {"upcase", "notes.txt", "NOTES.TXT"};
  o.root = dir.path;
  kivos::run_result r = kivos::run(o);
  EXPECT_EQ(r.console, "2 lines\n");
  EXPECT_EQ(test::read_file(dir.file("NOTES.TXT")), "HELLO KIVOS\nSECOND LINE\n");
}

TEST(FileStreams, OneReadPerFread) {
  stream_run run("fread_short");
  EXPECT_EQ(run.count(KIVOS_SYS_READ), 2u); // the oversized request makes none
}

TEST(FileStreams, WrittenWholeAtClose) {
  stream_run run("write_file");
  // fopen makes no system call; each stream is one writefile at fclose.
  EXPECT_EQ(run.count(KIVOS_SYS_OPEN), 0u);
  EXPECT_EQ(run.count(KIVOS_SYS_WRITEFILE), 2u);
  std::vector<std::string> written;
  for (const auto &t : run.result.traps)
    if (t.number == KIVOS_SYS_WRITEFILE) written.push_back(t.data);
  EXPECT_EQ(written, (std::vector<std::string>{std::string("hello 42!\0\n", 11), ""}));
  EXPECT_EQ(test::read_file(run.dir.file("out")), std::string("hello 42!\0\n", 11));
  EXPECT_TRUE(std::filesystem::exists(run.dir.file("empty")));
  EXPECT_EQ(std::filesystem::file_size(run.dir.file("empty")), 0u);
}

TEST(FileStreams, FailedWriteReportsFailure) {
  stream_run run("write_fails");
  EXPECT_EQ(run.count(KIVOS_SYS_WRITEFILE), 1u);
  EXPECT_FALSE(std::filesystem::exists(run.dir.file("nowhere")));
}

TEST(FileStreams, RedirectedStdoutIsWrittenAtClose) {
  stream_run run("redirected_stdout");
  EXPECT_EQ(test::read_file(run.dir.file("log")), "hi\nn=7\n");
  EXPECT_EQ(run.count(KIVOS_SYS_WRITEFILE), 1u);
  EXPECT_EQ(run.count(KIVOS_SYS_CLOSE), 1u);
  EXPECT_EQ(run.count(KIVOS_SYS_WRITE), 0u) << "nothing reached the console";
}

TEST(FileStreams, LowDescriptorsStayOpen) {
  stream_run run("low_descriptor");
  EXPECT_EQ(run.count(KIVOS_SYS_CLOSE), 0u);
}

TEST(FileStreams, CloseResultIsTheKernels) {
  stream_run run("close_result", "", test::answer(KIVOS_SYS_CLOSE, -77));
  EXPECT_EQ(test::reports(run.result), std::vector<int32_t>{-77});
}

// A kernel that claims to have read more than was asked for never makes
// fread return more elements than were asked for; the position counts what
// the kernel said.
TEST(FileStreams, OverlongReadResultIsBounded) {
  stream_run run("fread_result", "", test::answer(KIVOS_SYS_READ, 1000));
  ASSERT_EQ(run.result.end, kivos::run_end::exited) << run.result.message;
  std::vector<kivos::trap_record> reported;
  for (const auto &t : run.result.traps)
    if (t.number == test::report_trap) reported.push_back(t);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].ebx, 3u);
  EXPECT_EQ(reported[0].ecx, 1000u);
}

TEST(FileStreams, WritefileResultThatIsNotNegativeIsSuccess) {
  stream_run run("write_file", "", test::answer(KIVOS_SYS_WRITEFILE, 12345));
  EXPECT_EQ(run.result.exit_status, 0) << run.result.console;
}

} // namespace
