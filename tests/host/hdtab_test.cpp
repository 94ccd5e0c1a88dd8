// hdtab's listing, usage line and failure, byte for byte.
#include "harness.h"

#include <gtest/gtest.h>
#include <kivos/syscalls.h>

namespace {

struct listing_case {
  const char *name;
  std::vector<std::string> args;
  kivos::drive_table drives;
  const char *output;
  int status;
};

// Names the case in test output.
void PrintTo(const listing_case &c, std::ostream *os) {
  *os << c.name;
}

const listing_case listing_cases[] = {
    {"usage", {"-h"}, {}, "Usage: hdtab\n", 0},
    {"usage_ignores_extra", {"-h", "extra"}, {}, "Usage: hdtab\n", 0},
    {"other_argument_lists",
     {"-x"},
     {},
     "Detected logical drives: 4\nDrive 0: Present\nDrive 1: Present (current)\n"
     "Drive 2: Not present\nDrive 3: Present\n",
     0},
    {"second_argument_ignored",
     {"-x", "-h"},
     {2, 0, {1, 1}},
     "Detected logical drives: 2\nDrive 0: Present (current)\nDrive 1: Present\n",
     0},
    {"no_drives", {}, {0, 0, {}}, "Detected logical drives: 0\n", 0},
    {"count_fails", {}, {-1, 0, {}}, "hdtab: failed to query drives\n", 1},
    {"count_fails_any_negative", {}, {-38, 0, {}}, "hdtab: failed to query drives\n", 1},
    {"three_drives",
     {},
     {3, 1, {1, 5, 0}},
     "Detected logical drives: 3\nDrive 0: Present\nDrive 1: Present (current)\n"
     "Drive 2: Not present\n",
     0},
    {"probe_error_continues",
     {},
     {3, 0, {1, -2, 1}},
     "Detected logical drives: 3\nDrive 0: Present (current)\nDrive 1: query error\n"
     "Drive 2: Present\n",
     0},
    {"negative_current",
     {},
     {2, -1, {1, 1}},
     "Detected logical drives: 2\nDrive 0: Present\nDrive 1: Present\n",
     0},
    {"current_past_count",
     {},
     {2, 2, {1, 1}},
     "Detected logical drives: 2\nDrive 0: Present\nDrive 1: Present\n",
     0},
    {"current_absent",
     {},
     {2, 1, {1, 0}},
     "Detected logical drives: 2\nDrive 0: Present\nDrive 1: Not present\n",
     0},
    {"large_index",
     {},
     {11, 10, {}},
     "Detected logical drives: 11\nDrive 0: Present\nDrive 1: Present\nDrive 2: Present\n"
     "Drive 3: Present\nDrive 4: Present\nDrive 5: Present\nDrive 6: Present\n"
     "Drive 7: Present\nDrive 8: Present\nDrive 9: Present\nDrive 10: Present (current)\n",
     0},
};

class Listing : public testing::TestWithParam<listing_case> {};

TEST_P(Listing, PrintsExactly) {
  const listing_case &c = GetParam();
  kivos::run_options o = test::options("hdtab", c.args);
  o.drives = c.drives;
  kivos::run_result r = kivos::run(o);
  ASSERT_EQ(r.end, kivos::run_end::exited) << r.message;
  EXPECT_EQ(r.console, c.output);
  EXPECT_EQ(r.exit_status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Hdtab, Listing, testing::ValuesIn(listing_cases),
                         [](const auto &info) { return std::string(info.param.name); });

std::vector<uint32_t> trap_numbers(const kivos::run_result &r) {
  std::vector<uint32_t> v;
  for (const auto &t : r.traps)
    if (t.number != KIVOS_SYS_WRITE) v.push_back(t.number);
  return v;
}

TEST(Hdtab, UsageMakesNoDriveTrap) {
  kivos::run_result r = kivos::run(test::options("hdtab", {"-h"}));
  EXPECT_EQ(trap_numbers(r), (std::vector<uint32_t>{KIVOS_SYS_EXIT}));
}

TEST(Hdtab, FailedCountSkipsCurrentDrive) {
  kivos::run_options o = test::options("hdtab");
  o.drives.count = -1;
  kivos::run_result r = kivos::run(o);
  EXPECT_EQ(trap_numbers(r), (std::vector<uint32_t>{KIVOS_SYS_DRIVE_COUNT, KIVOS_SYS_EXIT}));
  EXPECT_EQ(r.traps.back().ebx, 1u);
}

TEST(Hdtab, QueriesInOrderAndProbesEachIndex) {
  kivos::run_options o = test::options("hdtab");
  o.drives = {3, 1, {1, 5, 0}};
  kivos::run_result r = kivos::run(o);
  EXPECT_EQ(trap_numbers(r), (std::vector<uint32_t>{KIVOS_SYS_DRIVE_COUNT, KIVOS_SYS_DRIVE_CURRENT,
                                                    KIVOS_SYS_DRIVE_PROBE, KIVOS_SYS_DRIVE_PROBE,
                                                    KIVOS_SYS_DRIVE_PROBE, KIVOS_SYS_EXIT}));
  std::vector<uint32_t> indexes;
  for (const auto &t : r.traps)
    if (t.number == KIVOS_SYS_DRIVE_PROBE) indexes.push_back(t.ebx);
  EXPECT_EQ(indexes, (std::vector<uint32_t>{0, 1, 2}));
}

TEST(Hdtab, EachLiteralCharacterIsOneWrite) {
  kivos::run_options o = test::options("hdtab");
  o.drives = {1, 0, {1}};
  kivos::run_result r = kivos::run(o);
  std::vector<std::string> pieces;
  for (const auto &t : r.traps)
    if (t.number == KIVOS_SYS_WRITE) pieces.push_back(t.data);
  std::vector<std::string> expected;
  for (char c : std::string("Detected logical drives: ")) expected.push_back(std::string(1, c));
  expected.push_back("1");
  expected.push_back("\n");
  for (char c : std::string("Drive ")) expected.push_back(std::string(1, c));
  expected.push_back("0");
  for (char c : std::string(": Present (current)\n")) expected.push_back(std::string(1, c));
  EXPECT_EQ(pieces, expected);
}

TEST(Hdtab, ManyDrives) {
  kivos::run_options o = test::options("hdtab");
  o.drives = {10000, 9999, {}};
  o.record_traps = false;
  kivos::run_result r = kivos::run(o);
  ASSERT_EQ(r.end, kivos::run_end::exited);
  EXPECT_EQ(r.console.rfind("Drive 9999: Present (current)\n"), r.console.size() - 30);
  EXPECT_EQ(std::count(r.console.begin(), r.console.end(), '\n'), 10001);
}

} // namespace
