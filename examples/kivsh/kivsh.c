/* kivsh: a small shell. It runs each line of its standard input, or the
   one line given with -c: kivos programs joined by '|', each with its
   arguments separated by spaces, every program's output feeding the next
   one's input. Its status is the last program's. `cd DIR` and `exit [N]`
   are its own. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#define MAX_STAGES 16
#define MAX_WORDS 32

/* Cuts s at each `sep`, in place, into at most max pieces; with
   drop_empty, empty pieces (runs of separators) are left out. */
static int split(char *s, char sep, char **pieces, int max, int drop_empty) {
  int n = 0;
  for (char *at = s;; ++at) {
    char *end = strchr(at, sep);
    if (end) *end = 0;
    if ((*at || !drop_empty) && n < max) pieces[n++] = at;
    if (!end) return n;
    at = end;
  }
}

static int status_of(int word) {
  return WIFEXITED(word) ? WEXITSTATUS(word) : 128 + WTERMSIG(word);
}

/* Runs one line; returns its status, or -1 - N for `exit N`. */
static int run_line(char *line) {
  char *stages[MAX_STAGES];
  int count = split(line, '|', stages, MAX_STAGES, 0);
  int pids[MAX_STAGES], in = -1, last = 0;
  for (int i = 0; i < count; ++i) {
    char *words[MAX_WORDS + 1];
    int n = split(stages[i], ' ', words, MAX_WORDS, 1);
    int next_in = -1; /* the read end of this stage's pipe feeds the next one */
    words[n] = NULL;
    pids[i] = -1;
    if (n == 0) {
      if (count > 1) puts("kivsh: a pipeline with an empty command");
      last = count > 1 ? 2 : last;
    } else if (count == 1 && strcmp(words[0], "exit") == 0) {
      return -1 - (n > 1 ? atoi(words[1]) & 0xff : 0);
    } else if (count == 1 && strcmp(words[0], "cd") == 0) {
      last = n > 1 && chdir(words[1]) == 0 ? 0 : 1;
      if (last) puts("kivsh: cd: no such folder");
    } else {
      int fds[2] = {-1, -1};
      if (i + 1 < count && pipe(fds) < 0) {
        puts("kivsh: cannot make a pipe");
        return 1;
      }
      fd_set_stdio(in, fds[1], -1);
      pids[i] = spawn(words[0], words, n);
      if (pids[i] < 0) {
        printf("kivsh: %s: %s\n", words[0], pids[i] == -2 ? "not found" : "cannot run");
        last = 127;
      }
      fd_set_stdio(-1, -1, -1);
      if (fds[1] >= 0) close(fds[1]);
      next_in = fds[0];
    }
    if (in >= 0) close(in);
    in = next_in;
  }
  for (int i = 0; i < count; ++i) {
    int word = 0;
    if (pids[i] > 0 && waitpid(pids[i], &word, 0) == pids[i] && i == count - 1)
      last = status_of(word);
  }
  return last;
}

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "-c") == 0) {
    int status = run_line(argv[2]);
    return status < 0 ? -1 - status : status;
  }
  if (argc != 1) {
    puts("Usage: kivsh [-c LINE]");
    return 2;
  }
  static char line[1024];
  int status = 0;
  for (int c = 0; c != -1;) {
    int len = 0;
    while ((c = getchar()) != -1 && c != '\n')
      if (len < (int)sizeof line - 1) line[len++] = (char)c;
    if (c == -1 && len == 0) break;
    line[len] = 0;
    status = run_line(line);
    if (status < 0) return -1 - status;
  }
  return status;
}
