// Test programs that check the runtime from inside: one ctest entry per case.
#include "harness.h"

#include <gtest/gtest.h>

namespace {

struct inside_case {
  const char *program;
  const char *name;
};

// Names the case in test output.
void PrintTo(const inside_case &c, std::ostream *os) {
  *os << c.program << " " << c.name;
}

const inside_case inside_cases[] = {
#include "inside_cases.inc"
};

class Inside : public testing::TestWithParam<inside_case> {};

TEST_P(Inside, Passes) {
  kivos::run_result r = kivos::run(test::options(GetParam().program, {GetParam().name}));
  ASSERT_EQ(r.end, kivos::run_end::exited) << r.message;
  EXPECT_EQ(r.exit_status, 0) << r.console;
}

INSTANTIATE_TEST_SUITE_P(Runtime, Inside, testing::ValuesIn(inside_cases), [](const auto &info) {
  return std::string(info.param.program) + "_" + info.param.name;
});

// The generated table names every case each program has.
TEST(Runtime, TableListsEveryCase) {
  std::vector<std::string> programs;
  for (const auto &c : inside_cases)
    if (programs.empty() || programs.back() != c.program) programs.push_back(c.program);
  EXPECT_EQ(programs.size(), 5u);
  for (const std::string &program : programs) {
    kivos::run_result r = kivos::run(test::options(program, {"--list"}));
    std::string listed;
    for (const auto &c : inside_cases)
      if (c.program == program) listed += std::string(c.name) + "\n";
    EXPECT_EQ(r.console, listed) << program;
  }
}

// Pointer value 4096 is not in the first page, so strlen reads it.
TEST(Runtime, StrlenReadsPointer4096) {
  kivos::run_result r = kivos::run(test::options("faults", {"strlen_4096"}));
  ASSERT_EQ(r.end, kivos::run_end::fault);
  EXPECT_EQ(r.fault.kind, "read from unmapped memory");
  EXPECT_EQ(r.fault.address, 4096u);
}

} // namespace
