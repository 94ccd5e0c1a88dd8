/* The host's smallest program, for posix_spawn to start. */
int main(void) {
  return 0;
}
