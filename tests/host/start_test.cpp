// _start: the arguments it hands to main and the stack alignment at the call.
#include "harness.h"

#include <gtest/gtest.h>

namespace {

// Different argument counts and lengths move the initial stack pointer
// through every 4-byte offset modulo 16.
TEST(Start, AlignsTheStackForEveryStartingOffset) {
  std::vector<std::string> args;
  for (int n = 0; n < 8; ++n) {
    SCOPED_TRACE("arguments: " + std::to_string(n));
    kivos::run_result r = kivos::run(test::options("start", args));
    ASSERT_EQ(r.end, kivos::run_end::exited) << r.message;
    std::vector<int32_t> v = test::reports(r);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0], 0) << "stack pointer at the call of main, modulo 16";
    EXPECT_EQ(v[1], 1) << "argv[argc] is null";
    EXPECT_EQ(r.exit_status, n + 1) << "main's result goes to _exit";
    std::string expected = "[start]";
    for (const auto &a : args) expected += "[" + a + "]";
    EXPECT_EQ(r.console, expected);
    args.push_back(std::string(size_t(n % 3), 'a' + char(n)));
  }
}

} // namespace
