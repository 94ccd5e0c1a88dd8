/* expr: evaluates each line of the input as an integer expression with
   + - * / % and parentheses; an error anywhere goes back to the line's
   start with longjmp, and assert guards what cannot happen. */
#include <assert.h>
#include <ctype.h>
#include <setjmp.h>
#include <stdio.h>
#include <string.h>

static const char *p;
static jmp_buf fail;
static const char *why;

static void error(const char *message) {
  why = message;
  longjmp(fail, 1);
}

static long expression(void);

static void skip(void) {
  while (*p == ' ' || *p == '\t') p++;
}

static long primary(void) {
  long v = 0;
  skip();
  if (*p == '(') {
    p++;
    v = expression();
    skip();
    if (*p != ')') error("missing )");
    p++;
    return v;
  }
  if (*p == '-') {
    p++;
    return -primary();
  }
  if (!isdigit((unsigned char)*p)) error("number expected");
  while (isdigit((unsigned char)*p)) v = v * 10 + (*p++ - '0');
  return v;
}

static long term(void) {
  long v = primary();
  for (;;) {
    skip();
    char op = *p;
    if (op != '*' && op != '/' && op != '%') return v;
    p++;
    long w = primary();
    if (op != '*' && w == 0) error("division by zero");
    v = op == '*' ? v * w : op == '/' ? v / w : v % w;
  }
}

static long expression(void) {
  long v = term();
  for (;;) {
    skip();
    char op = *p;
    if (op != '+' && op != '-') return v;
    p++;
    long w = term();
    v = op == '+' ? v + w : v - w;
  }
}

int main(void) {
  char line[256];
  while (fgets(line, sizeof line, stdin) != NULL) {
    line[strcspn(line, "\n")] = '\0';
    p = line;
    if (setjmp(fail) != 0) {
      printf("error: %s\n", why);
      continue;
    }
    long v = expression();
    skip();
    if (*p != '\0') error("unexpected text");
    assert(p >= line && p <= line + strlen(line));
    printf("%s = %ld\n", line, v);
  }
  return 0;
}
