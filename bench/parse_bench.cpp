// The parsers' host build against the host C library on the same texts,
// as ratios of time per call measured in one run, and the guest
// instructions per strtod call of the kivos build under kivos-run.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <kivos/run.h>
#include <string>

extern "C" {
unsigned long kivos_strtoul(const char *s, char **end, int base);
int kivos_atoi(const char *s);
double kivos_strtod(const char *s, char **end);
}

namespace {

const char *const integers[] = {"0", "42", "  123456", "4294967295", "0x1f", "7fffffff", "-17"};
const char *const decimals[] = {"1.5",     "3.14159265358979",  "-2.5e3", "6.02214076e23", "1e-300",
                                "0x1.8p1", "123456789012345678"};

// Best of five rounds of `rounds` passes over the texts, in nanoseconds per call.
template <typename F> double time_per_call(F parse, const char *const *texts, size_t n) {
  constexpr int rounds = 20000;
  double best = 1e30;
  for (int attempt = 0; attempt < 5; ++attempt) {
    auto start = std::chrono::steady_clock::now();
    unsigned long sink = 0;
    for (int r = 0; r < rounds; ++r)
      for (size_t i = 0; i < n; ++i) sink += parse(texts[i]);
    std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    asm volatile("" : : "r"(sink));
    best = std::min(best, took.count() / (rounds * double(n)));
  }
  return best;
}

// Called through pointers, so that neither side is inlined into the loop.
unsigned long (*volatile strtoul_fn[2])(const char *, char **, int) = {kivos_strtoul, std::strtoul};
int (*volatile atoi_fn[2])(const char *) = {kivos_atoi, std::atoi};
double (*volatile strtod_fn[2])(const char *, char **) = {kivos_strtod, std::strtod};

uint64_t guest_instructions(unsigned calls, const char *text) {
  kivos::run_options o;
  o.program = PARSE_LOOP_PATH;
  o.args = {"loop", std::to_string(calls), text};
  o.count_instructions = true;
  o.capture_console = true;
  o.input = "";
  kivos::run_result r = kivos::run(o);
  if (r.end != kivos::run_end::exited) std::fprintf(stderr, "parse_loop: %s\n", r.message.c_str());
  return r.instructions;
}

} // namespace

int main() {
  std::printf("%-8s %12s %12s %14s\n", "parser", "kivos ns", "host ns", "kivos / host");
  for (int which = 0; which < 3; ++which) {
    double t[2];
    for (int side = 0; side < 2; ++side) {
      if (which == 0)
        t[side] = time_per_call([&](const char *s) { return strtoul_fn[side](s, nullptr, 0); },
                                integers, std::size(integers));
      else if (which == 1)
        t[side] = time_per_call([&](const char *s) { return (unsigned long)atoi_fn[side](s); },
                                integers, std::size(integers));
      else
        t[side] =
            time_per_call([&](const char *s) { return (unsigned long)strtod_fn[side](s, nullptr); },
                          decimals, std::size(decimals));
    }
    std::printf("%-8s %12.1f %12.1f %14.2f\n",
                which == 0   ? "strtoul"
                : which == 1 ? "atoi"
                             : "strtod",
                t[0], t[1], t[0] / t[1]);
  }
  std::printf("\n%-20s %28s\n", "strtod text", "guest instructions per call");
  for (const char *text : decimals) {
    constexpr unsigned calls = 1000;
    uint64_t per_call = (guest_instructions(calls, text) - guest_instructions(0, text)) / calls;
    std::printf("%-20s %28llu\n", text, static_cast<unsigned long long>(per_call));
  }
  return 0;
}
