/* A program for gdb to break in, step through, watch and run to its end. */
volatile int counter;

__attribute__((noinline)) int add(int a, int b) {
  return a + b;
}

int main(void) {
  counter = add(counter + 2, 3);
  counter += 1;
  return counter;
}
