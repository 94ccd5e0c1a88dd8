/* The child the process cases start: child ACTION [ARG]. */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv) {
  const char *action = argc > 1 ? argv[1] : "", *arg = argc > 2 ? argv[2] : "0";
  static char buf[4096];
  if (strcmp(action, "exit") == 0) return atoi(arg);
  if (strcmp(action, "fault") == 0) return *(volatile int *)0;
  if (strcmp(action, "stream") == 0) { /* begun and never ended */
    kivfs_stream_write(kivfs_stream_begin(arg), "lost", 4);
    return 0;
  }
  /* cat FD, or cat of the file ARG: copies it to descriptor 1. */
  int fd = strcmp(action, "cat") == 0 ? atoi(arg) : open(arg, 0);
  for (int n; (n = read(fd, buf, sizeof buf)) > 0;)
    if (write(1, buf, (size_t)n) != n) return 1;
  return 0;
}
