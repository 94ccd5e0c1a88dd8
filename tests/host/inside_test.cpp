// Suites that check the runtime from inside a kivos program: one ctest entry
// per case, each run in a folder holding "ten" ("0123456789") and "ff" ("a",
// 0xFF, "b"), with "ab" on standard input.
#include "harness.h"

#include <gtest/gtest.h>

namespace {

struct inside_case {
  const char *program;
  const char *name;
};

const inside_case inside_cases[] = {
#include "inside_cases.inc"
};

class Inside : public testing::TestWithParam<inside_case> {};

TEST_P(Inside, Passes) {
  test::temp_dir dir;
  test::write_file(dir.file("ten"), "0123456789");
  test::write_file(dir.file("ff"), "a\xff"
                                   "b");
  kivos::run_options o = test::options(GetParam().program, {GetParam().name});
  o.root = dir.path;
  o.input = "ab";
  kivos::run_result r = kivos::run(o);
  ASSERT_EQ(r.end, kivos::run_end::exited) << r.message;
  EXPECT_EQ(r.exit_status, 0) << r.console;
}

INSTANTIATE_TEST_SUITE_P(Runtime, Inside, testing::ValuesIn(inside_cases), [](const auto &info) {
  return std::string(info.param.program) + "_" + info.param.name;
});

} // namespace
