// Each system-call wrapper: its pointer checks, its count clamping and the
// registers of its trap.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <kivos/run.h>
#include <kivos/syscalls.h>

namespace {

// Expected register values; ANY is not checked, PTR and PTR2 stand for the
// two addresses the program reported before the call.
constexpr uint64_t ANY = 1ull << 32, PTR = 1ull << 33, PTR2 = 1ull << 34, MAX = 0x7fffffff;

struct trap {
  uint32_t number;
  uint64_t ebx = ANY, ecx = ANY, edx = ANY;
};

struct wrapper_case {
  const char *name;
  std::vector<trap> traps;
  int32_t result;
};

// The rows, shared with the kivos program that makes the calls.
#define T(call, ...) (trap{KIVOS_SYS_##call, __VA_ARGS__})
#define EXPAND(...) __VA_ARGS__
#define WRAPPER(name, traps, result, ...) {#name, {EXPAND traps}, result},
const wrapper_case wrapper_cases[] = {
#include "../kivos/wrapper_cases.h"
};

class Wrapper : public testing::TestWithParam<wrapper_case> {};

TEST_P(Wrapper, TrapsAndResult) {
  const wrapper_case &c = GetParam();
  std::string dir = testing::TempDir() + "wrappers_" + c.name;
  std::filesystem::create_directories(dir);
  if (c.name == std::string("access_file")) std::ofstream(dir + "/f") << "x";
  kivos::run_options o;
  o.program = KIVOS_TEST_BIN_DIR "/wrappers";
  o.args = {"wrappers", c.name};
  o.root = dir;
  o.input = "k";
  o.capture_console = o.record_traps = true;
  o.real_sleep = false;
  o.override_result = [](const kivos::trap_record &t) -> std::optional<int32_t> {
    return t.number == KIVOS_SYS_USLEEP ? std::optional<int32_t>(-5) : std::nullopt;
  };
  kivos::run_result r = kivos::run(o);
  std::filesystem::remove_all(dir);
  ASSERT_EQ(r.end, kivos::run_end::exited) << r.message << r.console;
  std::vector<kivos::trap_record> reported, calls;
  for (const auto &t : r.traps)
    if (t.number != KIVOS_SYS_EXIT) (t.number == 200 ? reported : calls).push_back(t);
  ASSERT_FALSE(reported.empty());
  uint32_t p = reported.size() > 1 ? reported[0].ebx : 0,
           p2 = reported.size() > 1 ? reported[0].ecx : 0;
  auto matches = [&](uint64_t want, uint32_t got) {
    return want == ANY || (want == PTR ? got == p : want == PTR2 ? got == p2 : got == want);
  };
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

INSTANTIATE_TEST_SUITE_P(Wrappers, Wrapper, testing::ValuesIn(wrapper_cases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
