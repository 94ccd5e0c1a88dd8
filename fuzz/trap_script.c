/* Makes the traps that argv[1] spells, so that a fuzzer on the host can throw
   any system call with any arguments at the kernel stand-in. argv[1] is hex;
   its bytes are also the program's data, so paths and buffers come from the
   same input. Each trap takes seven bytes: the call, then a kind and a value
   for each of ebx, ecx and edx. */
#include <kivos/trap.h>
#include <stdint.h>

static unsigned char g_bytes[1024];

static const char *const g_paths[] = {
    "data",     "sub",       "sub/inner", "..", "../secret", "/",   "/proc/self/exe", "up_link",
    "abs_link", "a/../../b", "",          ".",  "sub/",      "new", "new/deeper"};

static int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

/* Every kind of argument a careless or hostile program can pass. */
static uint32_t argument(unsigned kind, unsigned value, uint32_t end_of_stack) {
  switch (kind % 8) {
  case 0:
    return value;
  case 1:
    return (uint32_t)(int32_t)(int8_t)value; /* small negatives */
  case 2:
    return (uint32_t)(uintptr_t)(g_bytes + value * 4);
  case 3:
    return end_of_stack - value; /* runs off the top of the stack */
  case 4:
    return value << 24 | value; /* mostly unmapped */
  case 5:
    return (uint32_t)(uintptr_t)&argument + value; /* read-only code */
  case 6:
    return (uint32_t)(uintptr_t)g_paths[value % (sizeof g_paths / sizeof *g_paths)];
  default:
    return value * 0x01010101u;
  }
}

static const uint32_t g_calls[] = {KIVOS_SYS_WRITE,
                                   KIVOS_SYS_READ,
                                   KIVOS_SYS_OPEN,
                                   KIVOS_SYS_CLOSE,
                                   KIVOS_SYS_GETKEY,
                                   KIVOS_SYS_WRITEFILE,
                                   KIVOS_SYS_USLEEP,
                                   KIVOS_SYS_MKDIR,
                                   KIVOS_SYS_UNLINK,
                                   KIVOS_SYS_RMDIR,
                                   KIVOS_SYS_GETCWD,
                                   KIVOS_SYS_CHDIR,
                                   KIVOS_SYS_LSEEK,
                                   KIVOS_SYS_DRIVE_COUNT,
                                   KIVOS_SYS_DRIVE_PROBE,
                                   KIVOS_SYS_STREAM_BEGIN,
                                   KIVOS_SYS_SPAWN,
                                   KIVOS_SYS_DRIVE_CURRENT,
                                   999};

int main(int argc, char **argv) {
  if (argc < 2) return 1;
  const char *hex = argv[1];
  unsigned n = 0;
  for (; n < sizeof g_bytes && hex_value(hex[0]) >= 0 && hex_value(hex[1]) >= 0; hex += 2)
    g_bytes[n++] = (unsigned char)(hex_value(hex[0]) << 4 | hex_value(hex[1]));
  /* The argument strings end just below the top of the stack. */
  uint32_t end_of_stack = ((uint32_t)(uintptr_t)argv[1] + 0xfff) & ~0xfffu;
  for (unsigned at = 0; at + 7 <= n; at += 7) {
    const unsigned char *t = g_bytes + at;
    uint32_t call = g_calls[t[0] % (sizeof g_calls / sizeof *g_calls)];
    kivos_trap(call, argument(t[1], t[2], end_of_stack), argument(t[3], t[4], end_of_stack),
               argument(t[5], t[6], end_of_stack));
  }
  return 0;
}
