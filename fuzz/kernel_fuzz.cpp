// The kernel stand-in under any system calls a program can make, served in
// process: whatever the registers and buffers, the host side must not go
// wrong (the sanitizers watch it), and no file outside the root folder may
// be read or changed. Each trap takes seven input bytes: the call, then a
// kind and a value for each of ebx, ecx and edx; the input is also the
// program's data, so paths and buffers come from it. Each served trap is
// also written as a trace line, whose decoding must not go wrong either.
#include "../tools/kivos-run/src/kernel.h"
#include "../tools/kivos-run/src/syscalls.h"
#include "../tools/kivos-run/src/trace.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <kivos/syscalls.h>
#include <random>
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

// Read-only code, the input as data followed by the paths, and the stack.
constexpr uint32_t code = 0x400000, data = 0x401000, paths = data + 0x800, stack_top = 0xc0000000;
const char *const path_list[] = {
    "data",     "sub",       "sub/inner", "..", "../secret", "/",   "/proc/self/exe", "up_link",
    "abs_link", "a/../../b", "",          ".",  "sub/",      "new", "new/deeper"};
constexpr uint32_t path_count = std::size(path_list);
// Every kind of argument a careless or hostile program can pass: a small
// number, a small negative one, a pointer into the data, one that runs off
// the top of the stack, a mostly unmapped one, one into the read-only code,
// a path, a repeated byte.
uint32_t argument(uint8_t kind, uint8_t value) {
  const uint32_t v = value, small_negative = uint32_t(int8_t(value));
  const uint32_t kinds[] = {v,
                            small_negative,
                            data + 4 * v,
                            stack_top - v,
                            v << 24 | v,
                            code + v,
                            paths + 16 * (v % path_count),
                            v * 0x01010101u};
  return kinds[kind % 8];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size) {
  static world w;
  if (size > 0x800) return 0;
  w.reset_root();
  kivos::run_options o;
  o.root = w.root;
  o.input = "typed";
  o.capture_console = true;
  o.record_traps = true;
  o.real_sleep = false;
  kivos::run_result r;
  kivos::guest_memory memory;
  memory.regions.push_back(kivos::make_region(code, 0x1000, kivos::prot_read | kivos::prot_exec));
  memory.regions.push_back(kivos::make_region(data, 0x1000, kivos::prot_read | kivos::prot_write));
  memory.regions.push_back(
      kivos::make_region(stack_top - 0x10000, 0x10000, kivos::prot_read | kivos::prot_write));
  memory.write(data, bytes, uint32_t(size));
  for (size_t i = 0; i < path_count; ++i)
    memory.write(paths + 16 * uint32_t(i), path_list[i], uint32_t(strlen(path_list[i]) + 1));
  kivos::kernel k(o, memory, r);
  auto table = kivos::syscall_table();
  if (!k.fs.open_root(o.root).empty()) __builtin_trap();
  for (size_t at = 0; at + 7 <= size; at += 7) {
    const uint8_t *t = bytes + at;
    kivos::trap_record trap{};
    // Any call of the table, or one no kivos kernel knows.
    size_t pick = t[0] % (table.size() + 1);
    trap.number = pick < table.size() ? table[pick].number : 999;
    trap.ebx = argument(t[1], t[2]);
    trap.ecx = argument(t[3], t[4]);
    trap.edx = argument(t[5], t[6]);
    bool served = k.serve(trap);
    if (kivos::trace_line(trap, memory, served).empty()) __builtin_trap();
    // What the kernel read for the program must not hold the secret, unless
    // the input brought it in itself (the fuzzer learns it from the search).
    if (trap.number == KIVOS_SYS_READ && trap.data.find(w.secret) != std::string::npos &&
        std::string_view(reinterpret_cast<const char *>(bytes), size).find(w.secret) ==
            std::string_view::npos)
      __builtin_trap();
  }
  if (!w.outside_untouched()) __builtin_trap();
  return 0;
}
