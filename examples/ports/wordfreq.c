/* wordfreq [WORD...]: how often each word of the input comes, most
   frequent first; then, with qsort's order and bsearch, the count of each
   WORD. */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAXWORDS 2000

struct entry {
  char *word;
  int count;
};

static int by_word(const void *a, const void *b) {
  return strcmp(((const struct entry *)a)->word, ((const struct entry *)b)->word);
}

static int by_count(const void *a, const void *b) {
  const struct entry *x = a, *y = b;
  if (x->count != y->count) return y->count - x->count;
  return strcmp(x->word, y->word);
}

int main(int argc, char *argv[]) {
  static struct entry words[MAXWORDS];
  char word[64];
  int n = 0, len = 0, c, distinct = 0;
  do {
    c = getchar();
    if (c != EOF && isalpha(c)) {
      if (len < 63) word[len++] = (char)tolower(c);
    } else if (len > 0) {
      word[len] = '\0';
      len = 0;
      if (n < MAXWORDS) words[n++] = (struct entry){strdup(word), 1};
    }
  } while (c != EOF);
  qsort(words, n, sizeof words[0], by_word);
  for (int i = 0; i < n; i++) { /* fold equal words into their first */
    if (distinct > 0 && strcmp(words[distinct - 1].word, words[i].word) == 0)
      words[distinct - 1].count++;
    else
      words[distinct++] = words[i];
  }
  for (int i = 1; i < argc; i++) {
    struct entry key = {argv[i], 0}, *hit = bsearch(&key, words, distinct, sizeof key, by_word);
    printf("%s: %d\n", argv[i], hit ? hit->count : 0);
  }
  qsort(words, distinct, sizeof words[0], by_count);
  for (int i = 0; i < distinct && i < 10; i++) printf("%4d %s\n", words[i].count, words[i].word);
  return 0;
}
