/* rpn: the reverse Polish calculator of K&R, on integers: getop reads a
   number or an operator, with getch and ungetch over getc and ungetc. */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

#define MAXOP 100
#define NUMBER '0'
#define MAXVAL 100

static int sp = 0;
static long val[MAXVAL];

static void push(long f) {
  if (sp < MAXVAL)
    val[sp++] = f;
  else
    printf("error: stack full, can't push %ld\n", f);
}

static long pop(void) {
  if (sp > 0) return val[--sp];
  printf("error: stack empty\n");
  return 0;
}

static int getop(char s[]) {
  int i, c;
  while ((s[0] = c = getc(stdin)) == ' ' || c == '\t')
    ;
  s[1] = '\0';
  if (!isdigit(c)) return c; /* not a number */
  i = 0;
  while (isdigit(s[++i] = c = getc(stdin)))
    ;
  s[i] = '\0';
  if (c != EOF) ungetc(c, stdin);
  return NUMBER;
}

int main(void) {
  int type;
  long op2;
  char s[MAXOP];
  while ((type = getop(s)) != EOF) {
    switch (type) {
    case NUMBER:
      push(atol(s));
      break;
    case '+':
      push(pop() + pop());
      break;
    case '*':
      push(pop() * pop());
      break;
    case '-':
      op2 = pop();
      push(pop() - op2);
      break;
    case '/':
      op2 = pop();
      if (op2 != 0)
        push(pop() / op2);
      else
        printf("error: zero divisor\n");
      break;
    case '\n':
      printf("\t%ld\n", pop());
      break;
    default:
      printf("error: unknown command %s\n", s);
      break;
    }
  }
  return 0;
}
