// The cost of one trap in kivos-run against a bare Unicorn interrupt hook
// that does the least a kernel can (take the bytes, return the count), on
// the same guest program in the same run; part of speed_bench.
#include "elf32.h"
#include "speed_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <kivos/run.h>
#include <memory>
#include <string>
#include <unicorn/unicorn.h>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

struct bare_state {
  bool exited = false;
};

void bare_hook(uc_engine *uc, uint32_t, void *user) {
  uint32_t eax, edx;
  uc_reg_read(uc, UC_X86_REG_EAX, &eax);
  if (eax == 2) {
    static_cast<bare_state *>(user)->exited = true;
    uc_emu_stop(uc);
    return;
  }
  uc_reg_read(uc, UC_X86_REG_EDX, &edx);
  uc_reg_write(uc, UC_X86_REG_EAX, &edx);
}

// Loads the program as simply as possible and runs it with argv {"loop", n}.
double run_bare(const std::vector<uint8_t> &bytes, const elf32::file &f, const std::string &n) {
  uc_engine *uc;
  uc_open(UC_ARCH_X86, UC_MODE_32, &uc);
  std::vector<std::unique_ptr<uint8_t[]>> keep;
  for (const auto &s : f.segments) {
    if (s.type != PT_LOAD) continue;
    uint32_t base = s.vaddr & ~0xfffu, end = (s.vaddr + s.memsz + 0xfff) & ~0xfffu;
    keep.emplace_back(new uint8_t[end - base + 4096]());
    auto *mem = reinterpret_cast<uint8_t *>(
        (reinterpret_cast<uintptr_t>(keep.back().get()) + 4095) & ~uintptr_t(4095));
    std::memcpy(mem + (s.vaddr - base), bytes.data() + s.offset, s.filesz);
    uint32_t prot = (s.flags & 4 ? UC_PROT_READ : 0) | (s.flags & 2 ? UC_PROT_WRITE : 0) |
                    (s.flags & 1 ? UC_PROT_EXEC : 0);
    uc_mem_map_ptr(uc, base, end - base, prot, mem);
  }
  constexpr uint32_t top = 0xc0000000, size = 1 << 20;
  keep.emplace_back(new uint8_t[size + 4096]());
  auto *stack = reinterpret_cast<uint8_t *>(
      (reinterpret_cast<uintptr_t>(keep.back().get()) + 4095) & ~uintptr_t(4095));
  uc_mem_map_ptr(uc, top - size, size, UC_PROT_READ | UC_PROT_WRITE, stack);
  uint32_t strings = top - 64;
  std::memcpy(stack + size - 64, "loop", 5);
  std::memcpy(stack + size - 59, n.c_str(), n.size() + 1);
  uint32_t words[4] = {2, strings, strings + 5, 0};
  uint32_t sp = top - 128;
  std::memcpy(stack + size - 128, words, sizeof words);
  uc_reg_write(uc, UC_X86_REG_ESP, &sp);
  bare_state state;
  uc_hook h;
  uc_hook_add(uc, &h, UC_HOOK_INTR, reinterpret_cast<void *>(bare_hook), &state, 1, 0);
  auto t0 = clock_type::now();
  uc_emu_start(uc, f.entry, 0, 0, 0);
  double s = std::chrono::duration<double>(clock_type::now() - t0).count();
  uc_close(uc);
  if (!state.exited) std::fprintf(stderr, "bare run did not exit\n");
  return s;
}

double run_kivos(const std::string &program, const std::string &n) {
  kivos::run_options o = quiet_options(program, {"loop", n});
  auto t0 = clock_type::now();
  kivos::run_result r = kivos::run(o);
  double s = std::chrono::duration<double>(clock_type::now() - t0).count();
  if (r.end != kivos::run_end::exited || r.console.size() != std::stoul(n))
    std::fprintf(stderr, "kivos-run: %s\n", r.message.c_str());
  return s;
}

} // namespace

void print_trap_cost(unsigned traps) {
  std::string program = TRAP_LOOP_PATH, err;
  auto bytes = elf32::read_file(program, err);
  auto f = bytes ? elf32::parse(*bytes, err) : std::nullopt;
  if (!f) {
    std::fprintf(stderr, "trap cost: %s: %s\n", program.c_str(), err.c_str());
    return;
  }
  // Best of five, with the start-up cost (a run with no traps) taken off.
  double bare = 1e9, ours = 1e9, bare0 = 1e9, ours0 = 1e9;
  std::string n = std::to_string(traps);
  for (int i = 0; i < 5; ++i) {
    bare0 = std::min(bare0, run_bare(*bytes, *f, "0"));
    bare = std::min(bare, run_bare(*bytes, *f, n));
    ours0 = std::min(ours0, run_kivos(program, "0"));
    ours = std::min(ours, run_kivos(program, n));
  }
  double bare_ns = (bare - bare0) / traps * 1e9, ours_ns = (ours - ours0) / traps * 1e9;
  std::printf("\none-byte writes:        %u\n", traps);
  std::printf("bare interrupt hook:    %.0f ns per trap\n", bare_ns);
  std::printf("kivos-run:              %.0f ns per trap\n", ours_ns);
  std::printf("ratio kivos-run / bare: %.2f\n", ours_ns / bare_ns);
}
