// The buffer formatter's host build against the host C library's snprintf
// on the same formats, and the guest instructions and stores per call of
// the kivos build under kivos-run, fputc to a file's among them.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <kivos/run.h>
#include <map>
#include <string>

extern "C" int kivos_snprintf(char *buf, size_t size, const char *format, ...);

namespace {

// The same four formats as the guest loop, in the same order.
template <typename F> void format(F f, char *buf, unsigned which, int i) {
  switch (which) {
  case 0:
    f(buf, 128, "Drive %d: Present (current)\n", i);
    break;
  case 1:
    f(buf, 128, "%-10s|%08.3x|%+5d", "name", unsigned(i), -i);
    break;
  case 2:
    f(buf, 128, "%s", "a plain string of some length");
    break;
  case 3:
    f(buf, 16, "%40d", i);
    break;
  }
}

const char *const names[] = {"drive_line", "flags", "string", "truncated"};

// Called through a pointer, so the compiler cannot turn a call into
// something cheaper (a "%s" call into a copy, say).
using snprintf_type = int (*)(char *, size_t, const char *, ...);
snprintf_type volatile formatters[2] = {kivos_snprintf, snprintf};

template <bool ours> void BM_format(benchmark::State &state) {
  char buf[128];
  unsigned which = unsigned(state.range(0));
  snprintf_type f = formatters[ours ? 0 : 1];
  int i = 0;
  for (auto _ : state) {
    format(f, buf, which, i++);
    benchmark::DoNotOptimize(buf);
  }
  state.SetLabel(names[which]);
}

BENCHMARK(BM_format<true>)->Name("kivos")->DenseRange(0, 3);
BENCHMARK(BM_format<false>)->Name("host")->DenseRange(0, 3);

// Keeps each benchmark's time per iteration for the ratios.
struct collector : benchmark::ConsoleReporter {
  std::map<std::string, double> ns;
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs) ns[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

// The instructions and stores of a run of `calls` calls.
std::pair<uint64_t, uint64_t> guest_counts(unsigned calls, unsigned which) {
  kivos::run_options o;
  o.program = SNPRINTF_LOOP_PATH;
  o.args = {"loop", std::to_string(calls), std::to_string(which)};
  o.count_instructions = o.count_stores = true;
  o.capture_console = true;
  o.input = "";
  o.root = std::filesystem::temp_directory_path(); // where fputc's file goes
  kivos::run_result r = kivos::run(o);
  if (r.end != kivos::run_end::exited)
    std::fprintf(stderr, "snprintf_loop: %s\n", r.message.c_str());
  return {r.instructions, r.stores};
}

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  collector report;
  benchmark::RunSpecifiedBenchmarks(&report);
  std::printf("\n%-12s %14s %14s %14s\n", "format", "kivos / host", "guest instr.", "guest stores");
  for (unsigned which = 0; which < 5; ++which) {
    std::string suffix = "/" + std::to_string(which);
    double ratio = which < 4 ? report.ns["kivos" + suffix] / report.ns["host" + suffix] : 0;
    constexpr unsigned calls = 1000;
    auto [instructions, stores] = guest_counts(calls, which);
    auto [base_instructions, base_stores] = guest_counts(0, which);
    std::printf("%-12s %14.2f %14.1f %14.1f\n", which < 4 ? names[which] : "fputc (file)", ratio,
                double(instructions - base_instructions) / calls,
                double(stores - base_stores) / calls);
  }
  benchmark::Shutdown();
  return 0;
}
