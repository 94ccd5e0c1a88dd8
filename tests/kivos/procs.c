/* Processes, pipes and kernel streams, in a folder that holds the child
   program and "ten" ("0123456789"). */
#include "probe.h"
#include <fcntl.h>
#include <kivos/syscalls.h>
#include <setjmp.h>
#include <sys/wait.h>
#include <unistd.h>

/* Starts `child ACTION ARG` with IN and OUT as its descriptors 0 and 1. */
static int start(int in, int out, const char *action, const char *arg) {
  char *argv[] = {"child", (char *)action, (char *)arg, NULL};
  fd_set_stdio(in, out, -1);
  int pid = spawn("child", argv, 3);
  fd_set_stdio(-1, -1, -1);
  return pid;
}

static int status_of(int pid) {
  int status = -1;
  return waitpid(pid, &status, 0) == pid ? status : -1000;
}

CASE(pipes) {
  int p[2], q[2];
  char buf[8] = {0};
  CHECK(pipe(p) == 0 && p[0] == 3 && p[1] == 4);
  CHECK(write(p[1], "hello", 5) == 5 && read(p[0], buf, 8) == 5 && memcmp(buf, "hello", 5) == 0);
  close(p[1]);
  CHECK_EQ(read(p[0], buf, 8), 0); /* no write end left anywhere */
  pipe(q);
  close(q[0]);
  CHECK_EQ(write(q[1], "x", 1), -32); /* no read end */
  CHECK_EQ(kivos_trap(KIVOS_SYS_PIPE, 16, 0, 0), -14);
}

CASE(nonblocking) {
  static char block[4096];
  int p[2], total = 0;
  char c;
  pipe(p);
  CHECK(fd_set_nonblock(p[0], 1) == 0 && fd_set_nonblock(p[1], 1) == 0);
  CHECK(fd_set_nonblock(40, 1) == -9 && read(p[0], &c, 1) == -11);
  for (int n; (n = write(p[1], block, sizeof block)) > 0;) total += n;
  CHECK(total >= 4096 && write(p[1], block, 1) == -11);
}

CASE(descriptors) {
  char a[4] = {0}, b[4] = {0};
  int fd = open("ten", 0), p[2], opened = 0;
  CHECK(fd == 3 && dup(fd) == 4 && dup2(fd, 10) == 10 && dup2(10, 10) == 10);
  CHECK(read(4, a, 3) == 3 && read(10, b, 3) == 3 && memcmp(b, "345", 3) == 0); /* one position */
  CHECK(dup2(9, 5) == -9 && dup2(1, 64) == -9 && close(10) == 0 && close(10) == -9);
  while (pipe(p) == 0) opened += 2;
  CHECK(opened == 58 && dup(1) == 63 && dup(1) == -24);
}

CASE(children) {
  char *args[] = {"x", NULL};
  int pid = start(-1, -1, "exit", "7"), status = status_of(pid);
  CHECK(pid > 1 && WIFEXITED(status) && WEXITSTATUS(status) == 7 && waitpid(pid, NULL, 0) == -10);
  int next = start(-1, -1, "fault", "");
  status = status_of(next);
  CHECK(next > pid && WIFSIGNALED(status) && WTERMSIG(status) == 11);
  CHECK(spawn("missing", args, 1) == -2 && spawn("ten", args, 1) == -8);
  CHECK(kivos_trap(KIVOS_SYS_SPAWN, (unsigned)"child", 16, 1) == -14 &&
        waitpid(-1, NULL, 0) == -10);
}

/* The chosen descriptors 0 and 1, and with inheritance the others too. */
CASE(handed_down) {
  int in[2], out[2], status;
  char buf[16] = {0};
  pipe(in);
  pipe(out);
  int pid = start(in[0], out[1], "cat", "0");
  close(in[0]);
  close(out[1]);
  CHECK(pid > 0 && waitpid(pid, &status, WNOHANG) == 0); /* it waits for input */
  write(in[1], "data", 4);
  close(in[1]);
  CHECK(read(out[0], buf, sizeof buf) == 4 && memcmp(buf, "data", 4) == 0 && status_of(pid) == 0);
  CHECK(open("ten", 0) == 3 && pipe(out) == 0 && fd_set_stdio(40, -1, -1) == -9);
  fd_set_inherit(1);
  pid = start(-1, out[1], "cat", "3");
  close(out[1]);
  CHECK(read(out[0], buf, sizeof buf) == 10 && status_of(pid) == 0);
}

/* 64 processes at most, those not waited for included. */
CASE(limit) {
  int p[2], alive = 1, pid;
  pipe(p);
  while ((pid = start(p[0], -1, "cat", "0")) > 0) ++alive;
  CHECK(alive == 64 && pid == -11);
  close(p[1]);
  while (waitpid(-1, NULL, 0) > 0) --alive;
  CHECK_EQ(alive, 1);
}

/* A file bigger than the heap, whole at its end; none from a child that
   ended first. */
CASE(streams) {
  static char chunk[65536];
  int h = kivfs_stream_begin("big");
  CHECK(h > 0 && open("big", 0) == -2);
  for (int i = 0; i < 32; ++i) CHECK_EQ(kivfs_stream_write(h, chunk, sizeof chunk), 65536);
  CHECK(kivfs_stream_end(h) == 0 && kivfs_stream_end(h) == -9 &&
        kivfs_stream_write(h, "", 1) == -9);
  CHECK(lseek(open("big", 0), 0, 2) == 2 << 20);
  CHECK(status_of(start(-1, -1, "stream", "part")) == 0 && open("part", 0) == -2);
}

/* A named pipe between two processes: each open waits for the other end. */
CASE(fifos) {
  char buf[16] = {0};
  int out[2];
  CHECK(mkfifo("f") == 0 && mkfifo("f") == -17 && mkfifo("nowhere/f") == -2);
  pipe(out);
  int pid = start(-1, out[1], "file", "f");
  close(out[1]);
  int w = open("f", O_WRONLY);
  CHECK(w >= 0 && write(w, "via fifo", 8) == 8 && close(w) == 0);
  CHECK(read(out[0], buf, sizeof buf) == 8 && status_of(pid) == 0);
}

/* A process starts with the x87 unit as fninit leaves it, so double
   precision survives the control-word reloads of a conversion to int. */
CASE(x87_start) {
  volatile double x = 2.5, a = 1.0, b = 3.0;
  unsigned short control;
  unsigned long long bits;
  __asm__ volatile("fnstcw %0" : "=m"(control));
  int i = (int)x;
  double third = a / b;
  memcpy(&bits, &third, sizeof bits);
  CHECK(control == 0x37f && i == 2 && bits == 0x3fd5555555555555ull);
}

/* longjmp goes back to setjmp, which then returns the value (1 for 0),
   with the registers and stack of the caller as they were. */
static jmp_buf back;
static volatile int depth;

static void dive(int n) {
  depth = n;
  if (n == 3) longjmp(back, n * 7);
  dive(n + 1);
}

CASE(jumps) {
  volatile int kept = 5, round = 0;
  int got = setjmp(back);
  ++round;
  if (round == 1) dive(0);
  if (round == 2) {
    CHECK(got == 21 && depth == 3 && kept == 5);
    longjmp(back, 0);
  }
  CHECK(round == 3 && got == 1 && kept == 5);
}
