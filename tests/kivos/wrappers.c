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
#define CASE(name, ...)                                                                            \
  if (strcmp(argv[1], name) == 0) {                                                                \
    __VA_ARGS__;                                                                                   \
    return 0;                                                                                      \
  }

int main(int argc, char **argv) {
  if (argc < 2) return 99;
  CASE("write_null", RESULT(write(1, NULL, 5)))
  CASE("write_clamp", report(ADDR(buf), 0); RESULT(write(1, buf, 0xffffffffu)))
  CASE("write_small", report(ADDR("hi"), 0); RESULT(write(1, "hi", 2)))
  CASE("read_null", RESULT(read(0, NULL, 5)))
  CASE("read_clamp", report(ADDR(buf), 0); RESULT(read(0, buf, 0x80000000u)))
  CASE("open_rdonly", report(ADDR("f"), 0); RESULT(open("f", O_RDONLY)))
  CASE("open_creat", report(ADDR("f"), 0); RESULT(open("f", O_WRONLY | O_CREAT)))
  CASE("open_null", RESULT(open(NULL, O_RDONLY)))
  CASE("creat", report(ADDR("f"), 0); RESULT(creat("f")))
  CASE("creat_null", RESULT(creat(NULL)))
  CASE("close", RESULT(close(7)))
  CASE("getkey", RESULT(getkey()))
  CASE("writefile_null", RESULT(writefile(NULL, buf, 1) + writefile("f", NULL, 1)))
  CASE("writefile_clamp", report(ADDR("f"), ADDR(buf)); RESULT(writefile("f", buf, 0x90000000u)))
  CASE("usleep", RESULT(usleep(1234)))
  CASE("sleep_5", RESULT(sleep(5)))
  CASE("sleep_4294", RESULT(sleep(4294)))
  CASE("sleep_4295", RESULT(sleep(4295)))
  CASE("sleep_max", RESULT(sleep(0xffffffffu)))
  CASE("path_nulls", RESULT(mkdir(NULL) + unlink(NULL) + rmdir(NULL) + chdir(NULL) + mkfifo(NULL) +
                            kivfs_stream_begin(NULL) + access(NULL, 0)))
  CASE("mkdir", report(ADDR("d"), 0); RESULT(mkdir("d")))
  CASE("unlink", report(ADDR("d"), 0); RESULT(unlink("d")))
  CASE("rmdir", report(ADDR("d"), 0); RESULT(rmdir("d")))
  CASE("chdir", report(ADDR("/"), 0); RESULT(chdir("/")))
  CASE("mkfifo", report(ADDR("p"), 0); RESULT(mkfifo("p")))
  CASE("getcwd_bad", RESULT(getcwd(NULL, 5) + getcwd(buf, 0)))
  CASE("getcwd_clamp", report(ADDR(buf), 0); RESULT(getcwd(buf, 0xffffffffu)))
  CASE("stream_begin", report(ADDR("s"), 0); RESULT(kivfs_stream_begin("s")))
  CASE("stream_write", report(ADDR(buf), 0); RESULT(kivfs_stream_write(9, buf, 0xfffffff0u)))
  CASE("stream_write_null", RESULT(kivfs_stream_write(9, NULL, 1)))
  CASE("stream_end", RESULT(kivfs_stream_end(9)))
  CASE("lseek", RESULT(lseek(4, -3, 2)))
  CASE("pipe_null", RESULT(pipe(NULL)))
  CASE("pipe", report(ADDR(fds), 0); RESULT(pipe(fds)))
  CASE("dup", RESULT(dup(3)))
  CASE("dup2", RESULT(dup2(3, 8)))
  CASE("fd_set_inherit", RESULT(fd_set_inherit(5) + fd_set_inherit(0)))
  CASE("fd_set_stdio", RESULT(fd_set_stdio(-1, 7, 0x12345678)))
  CASE("fd_set_nonblock", RESULT(fd_set_nonblock(3, 7)))
  CASE("spawn_bad", RESULT(spawn(NULL, argv, 1) + spawn("x", argv, -1)))
  CASE("spawn", report(ADDR("x"), ADDR(argv)); RESULT(spawn("x", argv, 2)))
  CASE("waitpid", report(ADDR(buf), 0); RESULT(waitpid(12, (int *)buf, 3)))
  CASE("access", report(ADDR("f"), 0); RESULT(access("f", 0x7)))
  CASE("exit", _exit(42))
  return 99;
}
