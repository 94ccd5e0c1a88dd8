/* Processes to measure: process_loop MODE [N]
     exit        ends at once
     sink        reads its standard input to the end
     spawn N     starts `process_loop exit` N times, waiting for each
     pump N      sends N MiB in 64 KiB writes through a pipe to a sink
     hold N      keeps N sinks alive on one pipe, then lets them end */
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static char block[65536];

static int start(const char *mode, int in) {
  char *argv[] = {"process_loop", (char *)mode, NULL};
  fd_set_stdio(in, -1, -1);
  return spawn("process_loop", argv, 2);
}

int main(int argc, char **argv) {
  const char *mode = argc > 1 ? argv[1] : "exit";
  int n = argc > 2 ? atoi(argv[2]) : 0, p[2];
  if (strcmp(mode, "sink") == 0) {
    while (read(0, block, sizeof block) > 0) continue;
  } else if (strcmp(mode, "spawn") == 0) {
    for (int i = 0; i < n; ++i)
      if (waitpid(start("exit", -1), NULL, 0) < 0) return 1;
  } else if (strcmp(mode, "pump") == 0 || strcmp(mode, "hold") == 0) {
    pipe(p);
    int sinks = strcmp(mode, "hold") == 0 ? n : 1;
    for (int i = 0; i < sinks; ++i)
      if (start("sink", p[0]) < 0) return 1;
    close(p[0]);
    for (int i = 0; strcmp(mode, "pump") == 0 && i < n * 16; ++i)
      if (write(p[1], block, sizeof block) != (int)sizeof block) return 1;
    if (strcmp(mode, "hold") == 0) usleep(200000); /* all alive at once */
    close(p[1]);
    while (waitpid(-1, NULL, 0) > 0) continue;
  }
  return 0;
}
