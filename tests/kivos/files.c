/* File traps in a root folder a command row prepares: confinement, bad pointers. */
#include "probe.h"
#include <fcntl.h>
#include <unistd.h>

/* Opens argv[1] for reading and reports the descriptor, then reads up to 64
   bytes from it and prints them. */
CASE(cat) {
  int fd = open(argv[1], O_RDONLY);
  report((unsigned)fd, 0);
  if (fd < 0) return;
  char buf[64];
  int n = read(fd, buf, sizeof buf);
  report((unsigned)n, 0);
  if (n > 0) write(1, buf, (unsigned)n);
  close(fd);
}

/* writefile(argv[1], argv[2]) and reports the result. */
CASE(put) {
  report((unsigned)writefile(argv[1], argv[2], strlen(argv[2])), 0);
}

CASE(dirs) {
  char cwd[64];
  report((unsigned)mkdir("made"), 0);
  report((unsigned)chdir("made"), 0);
  report((unsigned)getcwd(cwd, sizeof cwd), 0);
  puts(cwd);
  report((unsigned)writefile("inner", "x", 1), 0);
  report((unsigned)chdir(".."), 0);
  report((unsigned)chdir(".."), 0); /* stays at the root */
  getcwd(cwd, sizeof cwd);
  puts(cwd);
  report((unsigned)unlink("made/inner"), 0);
  report((unsigned)rmdir("made"), 0);
  report((unsigned)rmdir("made"), 0);
}

/* Pointers that do not lie in the program's memory, handed to the kernel
   directly. */
CASE(bad_pointers) {
  report((unsigned)kivos_trap(KIVOS_SYS_WRITE, 1, 0x1000, 4), 0);
  report((unsigned)kivos_trap(KIVOS_SYS_WRITE, 1, 0xfffffffe, 4), 0);
  report((unsigned)kivos_trap(KIVOS_SYS_OPEN, 0x10, 0, 0), 0);
  int fd = open("data", O_RDONLY);
  /* Reading into code must fail: the program may not write there. */
  report(
      (unsigned)kivos_trap(KIVOS_SYS_READ, (unsigned)fd, (unsigned)(unsigned long)&probe_main, 4),
      0);
  report((unsigned)kivos_trap(KIVOS_SYS_READ, (unsigned)fd, 0xbffffffe, 100), 0);
  report((unsigned)kivos_trap(KIVOS_SYS_WRITEFILE, (unsigned)(unsigned long)"x", 0x2000, 1), 0);
  report((unsigned)kivos_trap(KIVOS_SYS_GETCWD, 0x3000, 10, 0), 0);
  puts("still running");
}

CASE(unserved) {
  report((unsigned)kivos_trap(KIVOS_SYS_SPAWN, 0, 0, 0), 0);
  report((unsigned)kivos_trap(999, 1, 2, 3), 0);
}

/* A large writefile, for interrupting. */
CASE(big_put) {
  static char big[512 << 20];
  report((unsigned)writefile(argv[1], big, sizeof big), 0);
}
