/* Drives the stream functions from the command line, so that the host test
   can state each case as data:
     stdio printf FORMAT ARG...          vfprintf on stdout
     stdio fprintf STREAM FORMAT ARG...  STREAM: stdout, stderr, stdin, null
     stdio fputc STREAM N | fputs STREAM TEXT | puts TEXT
     stdio fwrite STREAM SIZE COUNT
   An ARG is i:N or u:N (one word) or s:TEXT.
   TEXT or FORMAT "(null)" stands for a null pointer.
   The result of the call is reported through the report trap. */
#include "probe.h"
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>

/* A decimal or 0x number, perhaps negative. */
static uint32_t parse(const char *s) {
  return *s == '-' ? 0u - (uint32_t)strtoul(s + 1, NULL, 0) : (uint32_t)strtoul(s, NULL, 0);
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
  for (int i = 0; i < argc && i < (int)(sizeof words / sizeof words[0]); ++i)
    words[i] = argv[i][0] == 's' ? (uint32_t)(uintptr_t)(argv[i] + 2) : parse(argv[i] + 2);
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
