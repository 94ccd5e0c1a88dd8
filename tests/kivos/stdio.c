/* Drives the stream functions from the command line, so that the host test
   can state each case as data:
     stdio printf FORMAT ARG...          vfprintf on stdout
     stdio fprintf STREAM FORMAT ARG...  STREAM: stdout, stderr, stdin, null
     stdio fputc STREAM N | putchar N | fputs STREAM TEXT | puts TEXT
     stdio fwrite STREAM SIZE COUNT
   An ARG is i:N or u:N (one word), L:N (two words, low first) or s:TEXT.
   TEXT or FORMAT "(null)" stands for a null pointer.
   The result of the call is reported through the report trap. */
#include "probe.h"
#include <stdarg.h>
#include <stdint.h>

static uint64_t parse(const char *s) {
  int neg = *s == '-';
  if (neg) ++s;
  uint64_t v = 0;
  if (s[0] == '0' && s[1] == 'x') {
    for (s += 2; *s; ++s) v = v * 16 + (uint64_t)(*s <= '9' ? *s - '0' : (*s | 32) - 'a' + 10);
  } else {
    for (; *s; ++s) v = v * 10 + (uint64_t)(*s - '0');
  }
  return neg ? 0 - v : v;
}

static FILE *stream(const char *name) {
  if (strcmp(name, "stdout") == 0) return stdout;
  if (strcmp(name, "stderr") == 0) return stderr;
  if (strcmp(name, "stdin") == 0) return stdin;
  return NULL;
}

static const char *text(const char *s) {
  return strcmp(s, "(null)") == 0 ? NULL : s;
}

static uint32_t words[64];

/* On i386 a va_list is a pointer to the argument words. */
static int format_with(FILE *f, const char *format, int argc, char **argv) {
  int n = 0;
  for (int i = 0; i < argc && n < 62; ++i) {
    const char *a = argv[i];
    if (a[0] == 's') {
      words[n++] = (uint32_t)(uintptr_t)(a + 2);
    } else {
      uint64_t v = parse(a + 2);
      words[n++] = (uint32_t)v;
      if (a[0] == 'L') words[n++] = (uint32_t)(v >> 32);
    }
  }
  return vfprintf(f, text(format), (va_list)(void *)words);
}

static char block[64] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

int main(int argc, char **argv) {
  if (argc < 2) return 99;
  const char *cmd = argv[1];
  int r;
  if (strcmp(cmd, "printf") == 0 && argc >= 3)
    r = format_with(stdout, argv[2], argc - 3, argv + 3);
  else if (strcmp(cmd, "fprintf") == 0 && argc >= 4)
    r = format_with(stream(argv[2]), argv[3], argc - 4, argv + 4);
  else if (strcmp(cmd, "fputc") == 0 && argc == 4)
    r = fputc((int)parse(argv[3]), stream(argv[2]));
  else if (strcmp(cmd, "putchar") == 0 && argc == 3)
    r = putchar((int)parse(argv[2]));
  else if (strcmp(cmd, "fputs") == 0 && argc == 4)
    r = fputs(text(argv[3]), stream(argv[2]));
  else if (strcmp(cmd, "puts") == 0 && argc == 3)
    r = puts(text(argv[2]));
  else if (strcmp(cmd, "fwrite") == 0 && argc == 5)
    r = (int)fwrite(block, (size_t)parse(argv[3]), (size_t)parse(argv[4]), stream(argv[2]));
  else
    return 99;
  report((unsigned)r, 0);
  return 0;
}
