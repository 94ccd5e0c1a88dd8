/* The system-call wrappers: a null pointer fails before any trap (the kernel
   would answer otherwise); command rows read the traps of the other cases. */
#include "probe.h"
#include <fcntl.h>
#include <unistd.h>

static char buf[16];
static char *args[] = {"x", NULL};

CASE(null_pointers) {
  CHECK(write(1, NULL, 5) == -1 && read(0, NULL, 5) == -1 && open(NULL, O_RDONLY) == -1);
  CHECK(creat(NULL) == -1 && writefile(NULL, buf, 1) == -1 && writefile("f", NULL, 1) == -1);
  CHECK(mkdir(NULL) == -1 && unlink(NULL) == -1 && rmdir(NULL) == -1 && chdir(NULL) == -1);
  CHECK(mkfifo(NULL) == -1 && kivfs_stream_begin(NULL) == -1 && access(NULL, 0) == -1);
  CHECK(getcwd(NULL, 5) == -1 && getcwd(buf, 0) == -1 && kivfs_stream_write(9, NULL, 1) == -1);
  CHECK(pipe(NULL) == -1 && spawn(NULL, args, 1) == -1 && spawn("x", args, -1) == -1);
}

/* Counts past the largest int reach the kernel as that int. */
CASE(clamps) {
  write(1, buf, 0xffffffffu);
  read(0, buf, 0x80000000u);
  writefile("f", buf, 0x90000000u);
  getcwd(buf, 0xffffffffu);
  kivfs_stream_write(9, buf, 0xfffffff0u);
}

/* Wrappers that shape their arguments or their result. */
CASE(shaped) {
  report((unsigned)(usleep(1234) + sleep(5) + sleep(4294) + sleep(4295)), 0);
  open("f", O_WRONLY | O_CREAT);
  creat("g");
  fd_set_inherit(5);
  fd_set_inherit(0);
  fd_set_nonblock(3, 7);
  report((unsigned)(access("f", 7) * 10 + access("missing", 7)), 0);
}

CASE(getkey) {
  report((unsigned)getkey(), 0);
}

CASE(sleep_5) {
  sleep(5);
}

CASE(sleep_max) {
  sleep(0xffffffffu);
}

CASE(exit) {
  _exit(42);
}
