// getopt as POSIX has it: options end at the first operand or at "--",
// nothing is reordered; messages go to the console, the one output there is.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

extern "C" {

char *optarg = nullptr;
int optind = 1, opterr = 1, optopt = 0;

int getopt(int argc, char *const argv[], const char *options) {
  static int s_next = 1;                // the next letter within argv[optind]
  if (optind == 0) optind = s_next = 1; // a fresh start, as the C libraries allow
  optarg = nullptr;
  if (optind >= argc || !argv[optind] || argv[optind][0] != '-' || !argv[optind][1]) return -1;
  if (strcmp(argv[optind], "--") == 0) {
    ++optind;
    return -1;
  }
  const char *word = argv[optind];
  char c = word[s_next++];
  bool quiet = options[0] == ':';
  const char *entry = c == ':' ? nullptr : strchr(options + quiet, c);
  bool last = !word[s_next];
  if (last) ++optind, s_next = 1;
  optopt = c;
  if (!entry) {
    if (opterr && !quiet) printf("%s: illegal option -- %c\n", argv[0], c);
    return '?';
  }
  if (entry[1] != ':') return c;
  if (!last) { // the rest of this word is the argument
    optarg = const_cast<char *>(word + s_next);
    ++optind, s_next = 1;
  } else if (optind < argc) {
    optarg = argv[optind++];
  } else {
    if (opterr && !quiet) printf("%s: option requires an argument -- %c\n", argv[0], c);
    return quiet ? ':' : '?';
  }
  return c;
}

} // extern "C"
