/* A program for gdb to break in, step through, watch and run to its end. */
volatile int counter;

__attribute__((noinline)) int add(int a, int b) {
  return a + b;
}

__attribute__((noinline)) void set(int value) {
  counter = value;
}

int main(void) {
  counter = add(counter + 2, 3);
  set(counter + 1);
  set(counter * 2); /* set has run once when gdb watches from here */
  return counter / 2;
}
