// Each system-call wrapper: its pointer checks, its count clamping and the
// registers of its trap.
#include "harness.h"

#include <functional>
#include <gtest/gtest.h>
#include <kivos/syscalls.h>

namespace {

// Expected register values; `any` is not checked, `ptr` and `ptr2` stand for
// the two addresses the program reported before the call.
constexpr uint64_t any = 1ull << 32, ptr = 1ull << 33, ptr2 = 1ull << 34;

struct trap {
  uint32_t number;
  uint64_t ebx = any, ecx = any, edx = any;
};

struct wrapper_case {
  const char *name;
  std::vector<trap> traps;
  int32_t result;
  std::function<void(kivos::run_options &, const test::temp_dir &)> setup = {};
};

const uint32_t max = 0x7fffffff;

const wrapper_case wrapper_cases[] = {
    {"write_null", {}, -1},
    {"write_clamp", {{KIVOS_SYS_WRITE, 1, ptr, max}}, -14},
    {"write_small", {{KIVOS_SYS_WRITE, 1, ptr, 2}}, 2},
    {"read_null", {}, -1},
    {"read_clamp", {{KIVOS_SYS_READ, 0, ptr, max}}, -14},
    {"open_rdonly", {{KIVOS_SYS_OPEN, ptr, 0, 0}}, -2},
    {"open_creat", {{KIVOS_SYS_OPEN, ptr, 0x41, 0x41}}, 3},
    {"open_null", {}, -1},
    {"creat", {{KIVOS_SYS_OPEN, ptr, 0x241, 0}}, 3},
    {"creat_null", {}, -1},
    {"close", {{KIVOS_SYS_CLOSE, 7}}, -9},
    {"getkey", {{KIVOS_SYS_GETKEY}}, 'k', [](auto &o, auto &) { o.input = "k"; }},
    {"writefile_null", {}, -2},
    {"writefile_clamp", {{KIVOS_SYS_WRITEFILE, ptr, ptr2, max}}, -14},
    {"usleep",
     {{KIVOS_SYS_USLEEP, 1234}},
     0,
     [](auto &o, auto &) { o.override_result = test::answer(KIVOS_SYS_USLEEP, -5); }},
    {"sleep_5",
     {{KIVOS_SYS_USLEEP, 5000000}},
     0,
     [](auto &o, auto &) { o.override_result = test::answer(KIVOS_SYS_USLEEP, -5); }},
    {"sleep_4294", {{KIVOS_SYS_USLEEP, 4294000000u}}, 0},
    {"sleep_4295", {{KIVOS_SYS_USLEEP, 4294000000u}, {KIVOS_SYS_USLEEP, 1000000}}, 0},
    {"path_nulls", {}, -7},
    {"mkdir", {{KIVOS_SYS_MKDIR, ptr}}, 0},
    {"unlink", {{KIVOS_SYS_UNLINK, ptr}}, -2},
    {"rmdir", {{KIVOS_SYS_RMDIR, ptr}}, -2},
    {"chdir", {{KIVOS_SYS_CHDIR, ptr}}, 0},
    {"mkfifo", {{KIVOS_SYS_MKFIFO, ptr}}, -38},
    {"getcwd_bad", {}, -2},
    {"getcwd_clamp", {{KIVOS_SYS_GETCWD, ptr, max, 0}}, 2},
    {"stream_begin", {{KIVOS_SYS_STREAM_BEGIN, ptr}}, -38},
    {"stream_write", {{KIVOS_SYS_STREAM_WRITE, 9, ptr, max}}, -38},
    {"stream_write_null", {}, -1},
    {"stream_end", {{KIVOS_SYS_STREAM_END, 9}}, -38},
    {"lseek", {{KIVOS_SYS_LSEEK, 4, 0xfffffffd, 2}}, -9},
    {"pipe_null", {}, -1},
    {"pipe", {{KIVOS_SYS_PIPE, ptr}}, -38},
    {"dup", {{KIVOS_SYS_DUP, 3}}, -38},
    {"dup2", {{KIVOS_SYS_DUP2, 3, 8, 0}}, -38},
    {"fd_set_inherit", {{KIVOS_SYS_FD_SET_INHERIT, 1}, {KIVOS_SYS_FD_SET_INHERIT, 0}}, -76},
    {"fd_set_stdio", {{KIVOS_SYS_FD_SET_STDIO, 0xffffffff, 7, 0x12345678}}, -38},
    {"fd_set_nonblock", {{KIVOS_SYS_FD_SET_NONBLOCK, 3, 1, 0}}, -38},
    {"spawn_bad", {}, -2},
    {"spawn", {{KIVOS_SYS_SPAWN, ptr, ptr2, 2}}, -38},
    {"waitpid", {{KIVOS_SYS_WAITPID, 12, ptr, 3}}, -38},
    {"access", {{KIVOS_SYS_OPEN, ptr, 0, 0}}, -1},
    {"access",
     {{KIVOS_SYS_OPEN, ptr, 0, 0}, {KIVOS_SYS_CLOSE, 3}},
     0,
     [](auto &, auto &dir) { test::write_file(dir.file("f"), "x"); }},
};

class Wrapper : public testing::TestWithParam<wrapper_case> {};

TEST_P(Wrapper, TrapsAndResult) {
  const wrapper_case &c = GetParam();
  test::temp_dir dir;
  kivos::run_options o = test::options("wrappers", {c.name});
  o.root = dir.path;
  if (c.setup) c.setup(o, dir);
  kivos::run_result r = kivos::run(o);
  ASSERT_EQ(r.end, kivos::run_end::exited) << r.message << r.console;
  std::vector<kivos::trap_record> reported;
  for (const auto &t : r.traps)
    if (t.number == test::report_trap) reported.push_back(t);
  ASSERT_FALSE(reported.empty());
  uint32_t p = reported.size() > 1 ? reported[0].ebx : 0,
           p2 = reported.size() > 1 ? reported[0].ecx : 0;
  auto matches = [&](uint64_t want, uint32_t got) {
    return want == any || (want == ptr ? got == p : want == ptr2 ? got == p2 : got == want);
  };
  std::vector<kivos::trap_record> calls = test::calls(r);
  ASSERT_EQ(calls.size(), c.traps.size());
  for (size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE("trap " + std::to_string(i));
    EXPECT_EQ(calls[i].number, c.traps[i].number);
    EXPECT_TRUE(matches(c.traps[i].ebx, calls[i].ebx)) << std::hex << calls[i].ebx;
    EXPECT_TRUE(matches(c.traps[i].ecx, calls[i].ecx)) << std::hex << calls[i].ecx;
    EXPECT_TRUE(matches(c.traps[i].edx, calls[i].edx)) << std::hex << calls[i].edx;
  }
  EXPECT_EQ(int32_t(reported.back().ebx), c.result);
}

INSTANTIATE_TEST_SUITE_P(Wrappers, Wrapper, testing::ValuesIn(wrapper_cases), [](const auto &info) {
  return std::string(info.param.name) + "_" + std::to_string(info.index);
});

// A sleep longer than 32 bits of microseconds takes several traps whose
// microseconds add up exactly.
TEST(Wrappers, LongSleepAddsUpExactly) {
  kivos::run_result r = kivos::run(test::options("wrappers", {"sleep_max"}));
  uint64_t total = 0;
  for (const auto &t : test::calls(r)) {
    EXPECT_EQ(t.number, uint32_t(KIVOS_SYS_USLEEP));
    total += t.ebx;
  }
  EXPECT_EQ(total, 0xffffffffull * 1000000);
}

} // namespace
