// The loader of the kernel stand-in on any file: it must refuse what it
// cannot run with a reason, and run the rest to some end, without going
// wrong itself (the sanitizers watch it).
#include <kivos/run.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("kivos_loader_fuzz." + std::to_string(getpid()));
    fs::create_directories(d);
    return d;
  }();
  static const fs::path program = dir / "program";
  static std::FILE *trace = std::fopen("/dev/null", "w");
  std::FILE *f = std::fopen(program.c_str(), "wb");
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  kivos::run_options o;
  o.program = program;
  o.root = dir;
  o.input = "";
  o.capture_console = true;
  o.real_sleep = false;
  o.trace = trace;
  o.max_instructions = 100000;
  kivos::run_result r = kivos::run(o);
  if (r.end != kivos::run_end::exited && r.message.empty()) __builtin_trap();
  return 0;
}
