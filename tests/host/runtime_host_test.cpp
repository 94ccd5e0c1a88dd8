// The shared case suites, run on the host against the runtime built for
// x86-64 with AddressSanitizer and UndefinedBehaviorSanitizer. Each case runs
// in a child process of its own, on a fresh heap, as it does under kivos-run.
#include "check.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#define X(name) extern "C" const probe_suite name##_suite;
KIVOS_CASE_SUITES
#undef X

namespace {

int failures;

} // namespace

extern "C" void probe_fail(const char *file, int line, const char *text) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, text);
  ++failures;
}

extern "C" void probe_fail_values(const char *file, int line, const char *text, long long a,
                                  long long b) {
  std::fprintf(stderr, "%s:%d: check failed: %s (%lld != %lld)\n", file, line, text, a, b);
  ++failures;
}

namespace {

struct host_case {
  const probe_suite *suite;
  const probe_case *c;
};

std::vector<host_case> all_cases() {
  std::vector<host_case> v;
  for (const probe_suite *s : {
#define X(name) &name##_suite,
           KIVOS_CASE_SUITES
#undef X
       })
    for (int i = 0; i < s->count; ++i) v.push_back({s, &s->cases[i]});
  return v;
}

class HostCase : public testing::TestWithParam<host_case> {};

// In a child of its own, as each case is a process of its own under kivos-run;
// a failure shows the failed checks the child printed.
TEST_P(HostCase, Passes) {
  char *argv[] = {const_cast<char *>(GetParam().c->name), nullptr};
  EXPECT_EXIT((GetParam().c->run(1, argv), _exit(failures != 0)), testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Runtime, HostCase, testing::ValuesIn(all_cases()), [](const auto &info) {
  return std::string(info.param.suite->name) + "_" + info.param.c->name;
});

} // namespace
