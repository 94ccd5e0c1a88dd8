// The kernel stand-in under any system calls a program can make: whatever
// the registers and buffers, the host side must not go wrong (the sanitizers
// watch it), and no file outside the root folder may be read or changed.
#include <kivos/run.h>
#include <kivos/syscalls.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string read_all(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The folder outside the root; only the root inside it may change.
struct world {
  fs::path outer = fs::temp_directory_path() / ("kivos_kernel_fuzz." + std::to_string(getpid()));
  fs::path root = outer / "root";
  std::FILE *trace = std::fopen("/dev/null", "w");
  // Text that no input is likely to spell, so that seeing it proves a read
  // outside the root.
  std::string secret = "outside " + std::to_string(std::random_device{}());

  world() {
    fs::remove_all(outer);
    fs::create_directories(outer);
    std::ofstream(outer / "secret") << secret;
  }
  ~world() { fs::remove_all(outer); }

  void reset_root() {
    fs::remove_all(root);
    fs::create_directories(root / "sub");
    std::ofstream(root / "data") << "inside";
    fs::create_symlink("../secret", root / "up_link");
    fs::create_symlink(outer / "secret", root / "abs_link");
  }

  bool outside_untouched() const {
    return std::distance(fs::directory_iterator(outer), fs::directory_iterator()) == 2 &&
           read_all(outer / "secret") == secret;
  }
};

world &the_world() {
  static world w;
  return w;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  world &w = the_world();
  w.reset_root();
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    hex += digits[data[i] >> 4];
    hex += digits[data[i] & 15];
  }
  kivos::run_options o;
  o.program = KIVOS_TRAP_SCRIPT;
  o.args = {"trap_script", hex};
  o.root = w.root;
  o.input = "typed";
  o.capture_console = true;
  o.record_traps = true;
  o.real_sleep = false;
  o.trace = w.trace;
  o.max_instructions = 1000000;
  kivos::run_result r = kivos::run(o);
  // The kernel may write into the program's own stack and so make it fault
  // or loop, but the program must always be run to some end.
  if (r.end == kivos::run_end::load_error) __builtin_trap();
  if (!w.outside_untouched()) __builtin_trap();
  // What the kernel read for the program must not hold the secret, unless
  // the input brought it in itself (the fuzzer learns it from the search).
  if (std::string_view(reinterpret_cast<const char *>(data), size).find(w.secret) ==
      std::string_view::npos)
    for (const kivos::trap_record &t : r.traps)
      if (t.number == KIVOS_SYS_READ && t.data.find(w.secret) != std::string::npos)
        __builtin_trap();
  return 0;
}
