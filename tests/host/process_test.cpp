// exit and abort end the process with nothing after them; the first rand
// seeds itself from the time-stamp counter.
#include "harness.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <kivos/syscalls.h>

namespace {

TEST(Process, ExitAndAbortEndAtOnce) {
  const std::pair<const char *, uint32_t> cases[] = {
      {"exit_3", 3}, {"exit_minus_one", 0xffffffff}, {"abort", 1}};
  for (const auto &[name, status] : cases) {
    test::temp_dir dir;
    kivos::run_options o = test::options("process", {name});
    o.root = dir.path;
    kivos::run_result r = kivos::run(o);
    ASSERT_EQ(r.end, kivos::run_end::exited) << name;
    ASSERT_EQ(r.traps.size(), 1u) << name << ": nothing but the exit trap";
    EXPECT_EQ(r.traps[0].number, uint32_t(KIVOS_SYS_EXIT));
    EXPECT_EQ(r.traps[0].ebx, status) << name;
    EXPECT_FALSE(std::filesystem::exists(dir.file("never")));
  }
}

int first_rand(std::optional<uint64_t> tsc) {
  kivos::run_options o = test::options("process", {"first_rand"});
  o.fixed_tsc = tsc;
  return test::reports(kivos::run(o)).at(0);
}

TEST(Process, FirstRandFollowsTheCounter) {
  EXPECT_EQ(first_rand(1), first_rand(1));
  EXPECT_NE(first_rand(1), first_rand(2));
  // The host's counter differs from run to run: three equal results would
  // happen once in a billion runs.
  int a = first_rand({}), b = first_rand({}), c = first_rand({});
  EXPECT_FALSE(a == b && b == c);
}

} // namespace
