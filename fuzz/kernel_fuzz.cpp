// The kernel stand-in, in process, under any system calls a program can
// make: whatever the registers and buffers, the host side must not go wrong
// (the sanitizers watch it, the trace line of each trap included), and no file
// outside the root folder may be read or changed. Each trap takes seven input
// bytes: the call, then a kind and a value for each of ebx, ecx and edx; the
// input is also the program's data, so paths and buffers come from it.
#include "../tools/kivos-run/src/kernel.h"
#include "../tools/kivos-run/src/loader.h"
#include "../tools/kivos-run/src/syscalls.h"
#include "../tools/kivos-run/src/trace.h"

#include <cstdlib>
#include <cstring>
#include <elf.h>
#include <filesystem>
#include <fstream>
#include <kivos/syscalls.h>
#include <random>
#include <sstream>
#include <string_view>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The folder around the root, with a secret beside it: text no input is
// likely to spell, so that seeing it proves a read outside the root.
const fs::path outer =
    fs::temp_directory_path() / ("kivos_kernel_fuzz." + std::to_string(getpid()));
const fs::path root = outer / "root";
const std::string secret = "outside " + std::to_string(std::random_device{}());

bool make_outer() {
  fs::remove_all(outer);
  fs::create_directories(outer);
  std::ofstream(outer / "secret") << secret;
  return std::atexit([] { fs::remove_all(outer); }) == 0;
}

bool outside_untouched() {
  std::ostringstream text;
  text << std::ifstream(outer / "secret").rdbuf();
  return std::distance(fs::directory_iterator(outer), {}) == 2 && text.str() == secret;
}

// Read-only code, the input as data followed by the paths, and the stack.
constexpr uint32_t code = 0x400000, data = 0x401000, paths = data + 0x800, stack_top = 0xc0000000;
const char *const path_list[] = {
    "data",     "sub",       "sub/inner", "..", "../secret", "/",   "/proc/self/exe", "up_link",
    "abs_link", "a/../../b", "",          ".",  "sub/",      "new", "new/deeper",     "child"};
constexpr uint32_t path_count = std::size(path_list);

// What a careless or hostile program may pass: a small number, a small
// negative one, a pointer into the data, one running off the top of the
// stack, a mostly unmapped one, one into the read-only code, a path, a
// repeated byte.
uint32_t argument(uint8_t kind, uint8_t value) {
  const uint32_t v = value, kinds[] = {v,
                                       uint32_t(int8_t(value)),
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
  static const bool made = make_outer();
  if (size > 0x800 || !made) return 0;
  fs::remove_all(root);
  fs::create_directories(root / "sub");
  std::ofstream(root / "data") << "inside";
  // A program to spawn: one segment whose code calls _exit(0).
  Elf32_Ehdr h{{0x7f, 'E', 'L', 'F', ELFCLASS32, ELFDATA2LSB, EV_CURRENT},
               ET_EXEC,
               EM_386,
               EV_CURRENT,
               code + 84,
               52,
               0,
               0,
               52,
               32,
               1,
               40,
               0,
               0};
  Elf32_Phdr ph{PT_LOAD, 0, code, code, 93, 93, PF_R | PF_X, 0x1000};
  const char exit0[] = "\x31\xdb\xb8\x02\x00\x00\x00\xcd\x80";
  std::ofstream(root / "child", std::ios::binary)
      .write(reinterpret_cast<const char *>(&h), 52)
      .write(reinterpret_cast<const char *>(&ph), 32)
      .write(exit0, 9);
  fs::create_symlink("../secret", root / "up_link");
  fs::create_symlink(outer / "secret", root / "abs_link");
  kivos::run_options o;
  o.root = root;
  o.input = "typed";
  o.capture_console = o.record_traps = true;
  o.real_sleep = false;
  kivos::run_result r;
  kivos::system sys(o, r);
  if (!sys.fs.open_root(o.root).empty()) __builtin_trap();
  // Children are loaded, not run: their calls come from the input too.
  sys.start_child = [&sys](kivos::process &parent, const std::vector<uint8_t> &image,
                           std::vector<std::string> args) -> int32_t {
    auto child = std::make_unique<kivos::process>();
    uint32_t entry, sp;
    if (!kivos::load_image(image, args, 0x10000, child->memory, entry, sp).empty()) return -8;
    child->pid = sys.next_pid++;
    child->parent = parent.pid;
    sys.processes.push_back(std::move(child));
    return sys.processes.back()->pid;
  };
  auto first = std::make_unique<kivos::process>();
  first->pid = sys.next_pid++;
  kivos::guest_memory &memory = first->memory;
  for (auto [base, length, prot] :
       {std::tuple{code, 0x1000u, kivos::prot_read | kivos::prot_exec},
        {data, 0x1000u, kivos::prot_read | kivos::prot_write},
        {stack_top - 0x10000, 0x10000u, kivos::prot_read | kivos::prot_write}})
    memory.regions.push_back(kivos::make_region(base, length, prot));
  memory.write(data, bytes, uint32_t(size));
  for (uint32_t i = 0; i < path_count; ++i)
    memory.write(paths + 16 * i, path_list[i], uint32_t(strlen(path_list[i]) + 1));
  first->fds[0] = std::make_shared<kivos::open_object>(kivos::open_object::console_in);
  first->fds[1] = first->fds[2] =
      std::make_shared<kivos::open_object>(kivos::open_object::console_out);
  sys.processes.push_back(std::move(first));
  auto table = kivos::syscall_table();
  std::string_view input(reinterpret_cast<const char *>(bytes), size);
  for (size_t at = 0; at + 7 <= size; at += 7) {
    const uint8_t *t = bytes + at;
    kivos::trap_record trap{};
    size_t pick = t[0] % (table.size() + 1); // any call of the table, or one no kernel knows
    trap.number = pick < table.size() ? table[pick].number : 999;
    trap.ebx = argument(t[1], t[2]);
    trap.ecx = argument(t[3], t[4]);
    trap.edx = argument(t[5], t[6]);
    // The caller: the first process, or a child it started.
    kivos::process &caller = *sys.processes[t[0] / (table.size() + 1) % sys.processes.size()];
    if (caller.ended) continue;
    bool served = true;
    if (sys.serve(caller, trap, served).kind == kivos::outcome::wait) {
      caller.drop_pending(); // nothing else runs here to end the wait
      continue;
    }
    if (kivos::trace_line(trap, caller.memory, served).empty()) __builtin_trap();
    // A read must not bring the secret in, unless the input itself holds it.
    if (trap.number == KIVOS_SYS_READ && trap.data.find(secret) != std::string::npos &&
        input.find(secret) == std::string_view::npos)
      __builtin_trap();
  }
  if (!outside_untouched()) __builtin_trap();
  return 0;
}
