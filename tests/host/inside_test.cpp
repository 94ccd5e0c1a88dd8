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
    {"heap", "block_layout"},
    {"heap", "fills_exactly"},
    {"heap", "largest_request"},
    {"heap", "huge_requests"},
    {"heap", "calloc"},
    {"heap", "realloc_moves"},
    {"heap", "realloc_failure"},
    {"heap", "free"},
    {"heap", "errno_stays"},
    {"strings", "lengths"},
    {"strings", "comparisons"},
    {"strings", "memory"},
    {"streams", "capacity"},
    {"streams", "publishes"},
    {"streams", "huge_write"},
    {"streams", "precision_bounds_string"},
    {"streams", "heap_exhausted"},
    {"streams", "empty_and_null"},
    {"streams", "memstream_publishes"},
    {"streams", "memstream_large"},
    {"streams", "read_functions_refuse_other_kinds"},
    {"streams", "standard_paths"},
    {"string_ops", "copying"},
    {"string_ops", "appending"},
    {"string_ops", "searching"},
    {"string_ops", "duplication"},
    {"string_ops", "duplication_heap_full"},
    {"string_ops", "case_insensitive"},
    {"string_ops", "tokens"},
    {"string_ops", "tokens_change_and_restart"},
    {"snprintf", "formats"},
    {"snprintf", "measuring"},
    {"snprintf", "huge_count"},
    {"snprintf", "unterminated_string"},
    {"snprintf", "sprintf_bound"},
    {"snprintf", "render_digits"},
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

// The table above names every case each program has (the host build runs
// them all from the same tables).
TEST(Runtime, TableListsEveryCase) {
  for (const char *program : {"heap", "strings", "streams", "string_ops", "snprintf"}) {
    kivos::run_result r = kivos::run(test::options(program, {"--list"}));
    std::string listed;
    for (const auto &c : inside_cases)
      if (std::string(c.program) == program) listed += std::string(c.name) + "\n";
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
