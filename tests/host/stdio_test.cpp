// The standard streams and the stream formatter: output bytes, the piece
// handed to each write, and results.
#include "harness.h"

#include <gtest/gtest.h>
#include <kivos/syscalls.h>

namespace {

struct output_case {
  const char *name;
  std::vector<std::string> args;   // the stdio program's command line
  std::vector<std::string> pieces; // one per write trap
  int32_t result;
};

std::vector<std::string> bytes(const std::string &s) {
  std::vector<std::string> v;
  for (char c : s) v.push_back(std::string(1, c));
  return v;
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> v;
  for (const auto &p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

const output_case output_cases[] = {
    {"literal_and_digit",
     {"printf", "Drive %d: Present\n", "i:3"},
     join({bytes("Drive "), {"3"}, bytes(": Present\n")}),
     17},
    {"width", {"printf", "%5d", "i:-42"}, join({bytes("  -"), {"42"}}), 5},
    {"precision", {"printf", "%.5d", "i:-42"}, join({bytes("-000"), {"42"}}), 6},
    {"width_and_precision", {"printf", "%8.3d", "i:7"}, join({bytes("     00"), {"7"}}), 8},
    {"zero_is_width", {"printf", "%05d", "i:42"}, join({bytes("   "), {"42"}}), 5},
    {"most_negative", {"printf", "%d", "i:-2147483648"}, {"-", "2147483648"}, 11},
    {"pointer_width", {"printf", "%6p", "u:255"}, {" ", " ", "0", "x", "ff"}, 6},
    {"long_long_min",
     {"printf", "%lld", "L:-9223372036854775808"},
     {"-", "9223372036854775808"},
     20},
    {"long_long_max", {"printf", "%llu", "L:18446744073709551615"}, {"18446744073709551615"}, 20},
    {"long_long_hex", {"printf", "%llx", "L:0x123456789abcdef0"}, {"123456789abcdef0"}, 16},
    {"long_long_pointer", {"printf", "%llp", "L:0x100000000"}, {"0", "x", "100000000"}, 11},
    {"dash_is_unknown", {"printf", "%-5d", "i:1"}, bytes("%-5d"), 4},
    {"unknown_takes_no_argument", {"printf", "%X %d", "i:255"}, join({bytes("%X "), {"255"}}), 6},
    {"star_width", {"printf", "%*s|", "i:3", "s:a"}, {" ", " ", "a", "|"}, 4},
    {"trailing_percent", {"printf", "abc%"}, bytes("abc"), 3},
    {"empty_string_no_write", {"printf", "%s", "s:"}, {}, 0},
    {"precision_digits_wrap", {"printf", "%.4294967297d", "i:5"}, {"5"}, 1},
    {"leading_sequence",
     {"fprintf", "stdout", "%c", "i:65", "i:66", "i:67"},
     {"\xff"
      "ABC"},
     0},
    {"leading_sequence_low_bytes",
     {"fprintf", "stdout", "%cz", "i:0x141", "i:-1", "i:0", "i:9"},
     {std::string("\xff\x41\xff\x00", 4), "z"},
     1},
    {"leading_sequence_on_stderr",
     {"fprintf", "stderr", "%c", "i:1", "i:2", "i:3"},
     {"\xff\x01\x02\x03"},
     0},
    {"later_c_is_a_character", {"printf", "x%c", "i:65"}, {"x", "A"}, 2},
    {"stdin_refuses_output", {"fprintf", "stdin", "abc"}, {}, -1},
    {"stdin_empty_format", {"fprintf", "stdin", ""}, {}, 0},
    {"stdin_leading_c", {"fprintf", "stdin", "%c", "i:65"}, {}, -1},
    {"null_stream", {"fprintf", "null", "abc"}, {}, -1},
    {"null_format", {"fprintf", "stdout", "(null)"}, {}, -1},
    {"fputc", {"fputc", "stdout", "0x141"}, {"A"}, 0x141},
    {"fputc_minus_one", {"fputc", "stdout", "-1"}, {"\xff"}, -1},
    {"fputc_stdin", {"fputc", "stdin", "120"}, {}, -1},
    {"putchar", {"putchar", "10"}, {"\n"}, 10},
    {"fputs", {"fputs", "stdout", "hello"}, {"hello"}, 5},
    {"fputs_empty_stdin", {"fputs", "stdin", ""}, {}, 0},
    {"fputs_null", {"fputs", "stdout", "(null)"}, {}, -1},
    {"puts", {"puts", "line"}, {"line", "\n"}, 0},
    {"puts_empty", {"puts", ""}, {"\n"}, 0},
    {"puts_null", {"puts", "(null)"}, {}, -1},
    {"fwrite", {"fwrite", "stdout", "2", "3"}, {"ABCDEF"}, 3},
    {"fwrite_overflow", {"fwrite", "stdout", "0x10000", "0x10000"}, {}, 0},
    {"fwrite_zero", {"fwrite", "stdout", "0", "3"}, {}, 0},
    {"fwrite_stderr", {"fwrite", "stderr", "1", "1"}, {"A"}, 1},
};

class Output : public testing::TestWithParam<output_case> {};

TEST_P(Output, PiecesAndResult) {
  const output_case &c = GetParam();
  kivos::run_result r = kivos::run(test::options("stdio", c.args));
  ASSERT_EQ(r.end, kivos::run_end::exited) << r.message;
  ASSERT_EQ(r.exit_status, 0);
  std::vector<std::string> pieces;
  std::string all;
  for (const auto &t : test::calls(r)) {
    EXPECT_EQ(t.number, uint32_t(KIVOS_SYS_WRITE));
    EXPECT_EQ(t.ebx, 1u) << "everything goes to descriptor 1";
    pieces.push_back(t.data);
    all += t.data;
  }
  EXPECT_EQ(pieces, c.pieces);
  EXPECT_EQ(r.console, all);
  std::vector<int32_t> result = test::reports(r);
  ASSERT_EQ(result.size(), 1u);
  EXPECT_EQ(result[0], c.result);
}

INSTANTIATE_TEST_SUITE_P(Stdio, Output, testing::ValuesIn(output_cases),
                         [](const auto &info) { return std::string(info.param.name); });

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

} // namespace
