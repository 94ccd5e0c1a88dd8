// hdtab: lists the logical drives the kernel has detected.
#include <kivos/meta.hpp>
#include <kivos/trap.h>
#include <stdio.h>
#include <string.h>

// The command record, read by the system's command tools; nothing refers to it.
[[gnu::used, gnu::section(".kivos.cmdmeta"), gnu::aligned(32)]] static constexpr auto g_cmdmeta_0 =
    kivos::meta_record("KCMD", 1, "List detected logical drives.", "hdtab");
static_assert(sizeof(g_cmdmeta_0) == 45, "the command record is 45 bytes");

// Freestanding C++ gives main no special linkage; _start calls the C symbol.
extern "C" int main(int argc, char **argv) {
  if (argc > 1 && argv[1] && strcmp(argv[1], "-h") == 0) {
    puts("Usage: hdtab");
    return 0;
  }
  int count = kivos_trap(KIVOS_SYS_DRIVE_COUNT, 0, 0, 0);
  if (count < 0) {
    puts("hdtab: failed to query drives");
    return 1;
  }
  int current = kivos_trap(KIVOS_SYS_DRIVE_CURRENT, 0, 0, 0);
  printf("Detected logical drives: %d\n", count);
  for (int i = 0; i < count; ++i) {
    int probe = kivos_trap(KIVOS_SYS_DRIVE_PROBE, uint32_t(i), 0, 0);
    // The current drive is the one whose index equals `current`, so every
    // line prints the index.
    const char *line = probe < 0      ? "Drive %d: query error\n"
                       : probe == 0   ? "Drive %d: Not present\n"
                       : i == current ? "Drive %d: Present (current)\n"
                                      : "Drive %d: Present\n";
    printf(line, i);
  }
  return 0;
}
