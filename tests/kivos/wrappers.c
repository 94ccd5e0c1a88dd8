/* Calls one system-call wrapper, chosen by argv[1]; the host test checks the
   traps it made and the result, handed over through the report trap. Where a
   pointer goes to the kernel, its address is reported first. */
#include "probe.h"
#include <fcntl.h>
#include <unistd.h>

static char buf[16];
static int fds[2];

#define ADDR(p) ((unsigned)(unsigned long)(p))
#define RESULT(expr) report((unsigned)(expr), 0)
#define CALL(name, ...)                                                                            \
  if (strcmp(argv[1], name) == 0) {                                                                \
    __VA_ARGS__;                                                                                   \
    return 0;                                                                                      \
  }

int main(int argc, char **argv) {
  if (argc < 2) return 99;
  CALL("write_null", RESULT(write(1, NULL, 5)))
  CALL("write_clamp", report(ADDR(buf), 0); RESULT(write(1, buf, 0xffffffffu)))
  CALL("write_small", report(ADDR("hi"), 0); RESULT(write(1, "hi", 2)))
  CALL("read_null", RESULT(read(0, NULL, 5)))
  CALL("read_clamp", report(ADDR(buf), 0); RESULT(read(0, buf, 0x80000000u)))
  CALL("open_rdonly", report(ADDR("f"), 0); RESULT(open("f", O_RDONLY)))
  CALL("open_creat", report(ADDR("f"), 0); RESULT(open("f", O_WRONLY | O_CREAT)))
  CALL("open_null", RESULT(open(NULL, O_RDONLY)))
  CALL("creat", report(ADDR("f"), 0); RESULT(creat("f")))
  CALL("creat_null", RESULT(creat(NULL)))
  CALL("close", RESULT(close(7)))
  CALL("getkey", RESULT(getkey()))
  CALL("writefile_null", RESULT(writefile(NULL, buf, 1) + writefile("f", NULL, 1)))
  CALL("writefile_clamp", report(ADDR("f"), ADDR(buf)); RESULT(writefile("f", buf, 0x90000000u)))
  CALL("usleep", RESULT(usleep(1234)))
  CALL("sleep_5", RESULT(sleep(5)))
  CALL("sleep_4294", RESULT(sleep(4294)))
  CALL("sleep_4295", RESULT(sleep(4295)))
  CALL("sleep_max", RESULT(sleep(0xffffffffu)))
  CALL("path_nulls", RESULT(mkdir(NULL) + unlink(NULL) + rmdir(NULL) + chdir(NULL) + mkfifo(NULL) +
                            kivfs_stream_begin(NULL) + access(NULL, 0)))
  CALL("mkdir", report(ADDR("d"), 0); RESULT(mkdir("d")))
  CALL("unlink", report(ADDR("d"), 0); RESULT(unlink("d")))
  CALL("rmdir", report(ADDR("d"), 0); RESULT(rmdir("d")))
  CALL("chdir", report(ADDR("/"), 0); RESULT(chdir("/")))
  CALL("mkfifo", report(ADDR("p"), 0); RESULT(mkfifo("p")))
  CALL("getcwd_bad", RESULT(getcwd(NULL, 5) + getcwd(buf, 0)))
  CALL("getcwd_clamp", report(ADDR(buf), 0); RESULT(getcwd(buf, 0xffffffffu)))
  CALL("stream_begin", report(ADDR("s"), 0); RESULT(kivfs_stream_begin("s")))
  CALL("stream_write", report(ADDR(buf), 0); RESULT(kivfs_stream_write(9, buf, 0xfffffff0u)))
  CALL("stream_write_null", RESULT(kivfs_stream_write(9, NULL, 1)))
  CALL("stream_end", RESULT(kivfs_stream_end(9)))
  CALL("lseek", RESULT(lseek(4, -3, 2)))
  CALL("pipe_null", RESULT(pipe(NULL)))
  CALL("pipe", report(ADDR(fds), 0); RESULT(pipe(fds)))
  CALL("dup", RESULT(dup(3)))
  CALL("dup2", RESULT(dup2(3, 8)))
  CALL("fd_set_inherit", RESULT(fd_set_inherit(5) + fd_set_inherit(0)))
  CALL("fd_set_stdio", RESULT(fd_set_stdio(-1, 7, 0x12345678)))
  CALL("fd_set_nonblock", RESULT(fd_set_nonblock(3, 7)))
  CALL("spawn_bad", RESULT(spawn(NULL, argv, 1) + spawn("x", argv, -1)))
  CALL("spawn", report(ADDR("x"), ADDR(argv)); RESULT(spawn("x", argv, 2)))
  CALL("waitpid", report(ADDR(buf), 0); RESULT(waitpid(12, (int *)buf, 3)))
  CALL("access", report(ADDR("f"), 0); RESULT(access("f", 0x7)))
  CALL("exit", _exit(42))
  return 99;
}
