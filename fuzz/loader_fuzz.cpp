// The loader of the kernel stand-in on any file: it must lay out what it
// accepts inside the address space it promises and refuse the rest with a
// reason, without going wrong itself (the sanitizers watch it).
#include "../tools/kivos-run/src/loader.h"

#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // A file in memory, named through /proc, so that nothing is left behind.
  static const int fd = memfd_create("program", 0);
  static const std::string program = "/proc/self/fd/" + std::to_string(fd);
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) __builtin_trap();
  kivos::run_options o;
  o.program = program;
  kivos::guest_memory memory;
  uint32_t entry = 0, sp = 0;
  elf32::symbol_table symbols;
  std::string err = kivos::load_program(o, memory, entry, sp, &symbols);
  if (!err.empty()) return 0;
  // Every name lies in the one copy of its table, which the file bounds.
  if (symbols.names.size() > size || symbols.functions.size() > size / 16) __builtin_trap();
  for (const elf32::function &f : symbols.functions)
    if (f.name >= symbols.names.size() || symbols.name(f).size() > symbols.names.size() - f.name)
      __builtin_trap();
  if (!memory.find(entry, kivos::prot_exec) || !memory.accessible(sp, 8, kivos::prot_write))
    __builtin_trap();
  for (const kivos::region &r : memory.regions)
    if (r.base < kivos::low_limit || uint64_t(r.base) + r.size > kivos::stack_top) __builtin_trap();
  return 0;
}
