// hdtab's listing, usage line and failure, byte for byte, and its budgets.
#include "harness.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <kivos/syscalls.h>

namespace {

// The listing for drives given one letter each (P present, N not present,
// E query error), the current one followed by '*'.
std::string listing(const std::string &drives) {
  std::string out;
  int n = 0;
  for (size_t i = 0; i < drives.size(); ++i) {
    if (drives[i] == '*') continue;
    bool current = i + 1 < drives.size() && drives[i + 1] == '*';
    out += "Drive " + std::to_string(n++) + ": " +
           (drives[i] == 'E'   ? "query error"
            : drives[i] == 'N' ? "Not present"
            : current          ? "Present (current)"
                               : "Present") +
           "\n";
  }
  return "Detected logical drives: " + std::to_string(n) + "\n" + out;
}

struct listing_case {
  std::vector<std::string> args;
  kivos::drive_table drives;
  std::string output;
  int status = 0;
};

const std::string usage = "Usage: hdtab\n", failed = "hdtab: failed to query drives\n";
const listing_case listing_cases[] = {
    {{"-h"}, {}, usage},
    {{"-h", "extra"}, {}, usage},
    {{"-x"}, {}, listing("PP*NP")},
    {{"-x", "-h"}, {2, 0, {1, 1}}, listing("P*P")},
    {{}, {0, 0, {}}, listing("")},
    {{}, {-1, 0, {}}, failed, 1},
    {{}, {-38, 0, {}}, failed, 1},
    {{}, {3, 1, {1, 5, 0}}, listing("PP*N")},
    {{}, {3, 0, {1, -2, 1}}, listing("P*EP")},
    {{}, {2, -1, {1, 1}}, listing("PP")},
    {{}, {2, 2, {1, 1}}, listing("PP")},
    {{}, {2, 1, {1, 0}}, listing("PN")},
    {{}, {11, 10, {}}, listing("PPPPPPPPPPP*")},
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

INSTANTIATE_TEST_SUITE_P(Hdtab, Listing, testing::ValuesIn(listing_cases));

// The long listing, and the budgets of the console path: at most 8 guest
// stores per trap (each store is slow on the emulator) and at most 2,264
// bytes for the stripped program.
TEST(Hdtab, ManyDrives) {
  kivos::run_options o = test::options("hdtab");
  o.drives = {10000, 9999, {}};
  o.record_traps = false;
  o.count_stores = true;
  kivos::run_result r = kivos::run(o);
  ASSERT_EQ(r.end, kivos::run_end::exited);
  EXPECT_EQ(r.console.rfind("Drive 9999: Present (current)\n"), r.console.size() - 30);
  EXPECT_EQ(std::count(r.console.begin(), r.console.end(), '\n'), 10001);
  EXPECT_LE(r.stores, 8 * r.trap_count);
  EXPECT_LE(std::filesystem::file_size(o.program), 2264u);
}

} // namespace
