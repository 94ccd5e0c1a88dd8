/* Calls one system-call wrapper per case; the host test checks the traps
   it made and the result, reported through the report trap. */
#include "probe.h"
#include <fcntl.h>
#include <unistd.h>

static char buf[16];
static int fds[2];

#define ADDR(p) ((unsigned)(unsigned long)(p))
#define RESULT(expr) report((unsigned)(expr), 0)

static void write_null(int c, char **v) {
  RESULT(write(1, NULL, 5));
}
static void write_clamp(int c, char **v) {
  report(ADDR(buf), 0);
  RESULT(write(1, buf, 0xffffffffu));
}
static void write_small(int c, char **v) {
  report(ADDR("hi"), 0);
  RESULT(write(1, "hi", 2));
}
static void read_null(int c, char **v) {
  RESULT(read(0, NULL, 5));
}
static void read_clamp(int c, char **v) {
  report(ADDR(buf), 0);
  RESULT(read(0, buf, 0x80000000u));
}
static void open_rdonly(int c, char **v) {
  report(ADDR("f"), 0);
  RESULT(open("f", O_RDONLY));
}
static void open_creat(int c, char **v) {
  report(ADDR("f"), 0);
  RESULT(open("f", O_WRONLY | O_CREAT));
}
static void open_null(int c, char **v) {
  RESULT(open(NULL, O_RDONLY));
}
static void creat_file(int c, char **v) {
  report(ADDR("f"), 0);
  RESULT(creat("f"));
}
static void creat_null(int c, char **v) {
  RESULT(creat(NULL));
}
static void close_fd(int c, char **v) {
  RESULT(close(7));
}
static void getkey_key(int c, char **v) {
  RESULT(getkey());
}
static void writefile_null(int c, char **v) {
  RESULT(writefile(NULL, buf, 1) + writefile("f", NULL, 1));
}
static void writefile_clamp(int c, char **v) {
  report(ADDR("f"), ADDR(buf));
  RESULT(writefile("f", buf, 0x90000000u));
}
static void usleep_us(int c, char **v) {
  RESULT(usleep(1234));
}
static void sleep_5(int c, char **v) {
  RESULT(sleep(5));
}
static void sleep_4294(int c, char **v) {
  RESULT(sleep(4294));
}
static void sleep_4295(int c, char **v) {
  RESULT(sleep(4295));
}
static void sleep_max(int c, char **v) {
  RESULT(sleep(0xffffffffu));
}
static void path_nulls(int c, char **v) {
  RESULT(mkdir(NULL) + unlink(NULL) + rmdir(NULL) + chdir(NULL) + mkfifo(NULL) +
         kivfs_stream_begin(NULL) + access(NULL, 0));
}
static void mkdir_path(int c, char **v) {
  report(ADDR("d"), 0);
  RESULT(mkdir("d"));
}
static void unlink_path(int c, char **v) {
  report(ADDR("d"), 0);
  RESULT(unlink("d"));
}
static void rmdir_path(int c, char **v) {
  report(ADDR("d"), 0);
  RESULT(rmdir("d"));
}
static void chdir_path(int c, char **v) {
  report(ADDR("/"), 0);
  RESULT(chdir("/"));
}
static void mkfifo_path(int c, char **v) {
  report(ADDR("p"), 0);
  RESULT(mkfifo("p"));
}
static void getcwd_bad(int c, char **v) {
  RESULT(getcwd(NULL, 5) + getcwd(buf, 0));
}
static void getcwd_clamp(int c, char **v) {
  report(ADDR(buf), 0);
  RESULT(getcwd(buf, 0xffffffffu));
}
static void stream_begin(int c, char **v) {
  report(ADDR("s"), 0);
  RESULT(kivfs_stream_begin("s"));
}
static void stream_write(int c, char **v) {
  report(ADDR(buf), 0);
  RESULT(kivfs_stream_write(9, buf, 0xfffffff0u));
}
static void stream_write_null(int c, char **v) {
  RESULT(kivfs_stream_write(9, NULL, 1));
}
static void stream_end(int c, char **v) {
  RESULT(kivfs_stream_end(9));
}
static void lseek_fd(int c, char **v) {
  RESULT(lseek(4, -3, 2));
}
static void pipe_null(int c, char **v) {
  RESULT(pipe(NULL));
}
static void pipe_fds(int c, char **v) {
  report(ADDR(fds), 0);
  RESULT(pipe(fds));
}
static void dup_fd(int c, char **v) {
  RESULT(dup(3));
}
static void dup2_fd(int c, char **v) {
  RESULT(dup2(3, 8));
}
static void inherit(int c, char **v) {
  RESULT(fd_set_inherit(5) + fd_set_inherit(0));
}
static void stdio_fds(int c, char **v) {
  RESULT(fd_set_stdio(-1, 7, 0x12345678));
}
static void nonblock(int c, char **v) {
  RESULT(fd_set_nonblock(3, 7));
}
static void spawn_bad(int c, char **v) {
  RESULT(spawn(NULL, v, 1) + spawn("x", v, -1));
}
static void spawn_ok(int c, char **v) {
  report(ADDR("x"), ADDR(v));
  RESULT(spawn("x", v, 2));
}
static void waitpid_pid(int c, char **v) {
  report(ADDR(buf), 0);
  RESULT(waitpid(12, (int *)buf, 3));
}
static void access_path(int c, char **v) {
  report(ADDR("f"), 0);
  RESULT(access("f", 0x7));
}
static void exit_status(int c, char **v) {
  _exit(42);
}

static const struct probe_case cases[] = {
    {"write_null", write_null},
    {"write_clamp", write_clamp},
    {"write_small", write_small},
    {"read_null", read_null},
    {"read_clamp", read_clamp},
    {"open_rdonly", open_rdonly},
    {"open_creat", open_creat},
    {"open_null", open_null},
    {"creat", creat_file},
    {"creat_null", creat_null},
    {"close", close_fd},
    {"getkey", getkey_key},
    {"writefile_null", writefile_null},
    {"writefile_clamp", writefile_clamp},
    {"usleep", usleep_us},
    {"sleep_5", sleep_5},
    {"sleep_4294", sleep_4294},
    {"sleep_4295", sleep_4295},
    {"sleep_max", sleep_max},
    {"path_nulls", path_nulls},
    {"mkdir", mkdir_path},
    {"unlink", unlink_path},
    {"rmdir", rmdir_path},
    {"chdir", chdir_path},
    {"mkfifo", mkfifo_path},
    {"getcwd_bad", getcwd_bad},
    {"getcwd_clamp", getcwd_clamp},
    {"stream_begin", stream_begin},
    {"stream_write", stream_write},
    {"stream_write_null", stream_write_null},
    {"stream_end", stream_end},
    {"lseek", lseek_fd},
    {"pipe_null", pipe_null},
    {"pipe", pipe_fds},
    {"dup", dup_fd},
    {"dup2", dup2_fd},
    {"fd_set_inherit", inherit},
    {"fd_set_stdio", stdio_fds},
    {"fd_set_nonblock", nonblock},
    {"spawn_bad", spawn_bad},
    {"spawn", spawn_ok},
    {"waitpid", waitpid_pid},
    {"access", access_path},
    {"exit", exit_status},
};

PROBE_MAIN(cases)
