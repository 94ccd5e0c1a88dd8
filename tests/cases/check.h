/* Checks and case tables of the test programs, for kivos and the host alike. */
#ifndef KIVOS_CHECK_H
#define KIVOS_CHECK_H

void probe_fail(const char *file, int line, const char *text);
void probe_fail_values(const char *file, int line, const char *text, long long a, long long b);

#define CHECK(cond)                                                                                \
  do {                                                                                             \
    if (!(cond)) probe_fail(__FILE__, __LINE__, #cond);                                            \
  } while (0)

/* Two values that must be equal; in a table loop the failure names the row. */
#define CHECK_ROW(row, a, b)                                                                       \
  do {                                                                                             \
    long long probe_a = (long long)(a), probe_b = (long long)(b);                                  \
    if (probe_a != probe_b) probe_fail_values(__FILE__, __LINE__, row, probe_a, probe_b);          \
  } while (0)
#define CHECK_EQ(a, b) CHECK_ROW(#a " == " #b, a, b)

struct probe_case {
  const char *name;
  void (*run)(int argc, char **argv); /* argv[0] is the case name */
};

struct probe_suite {
  const char *name;
  const struct probe_case *cases;
  int count;
};

/* CASE(name) { ... } is a case of the suite SUITE (set per file); the build
   makes the suite's table from the CASEs. */
#define CASE(name) void PROBE_CASE(SUITE, name)(int argc, char **argv)
#define PROBE_CASE(suite, name) PROBE_PASTE(suite, name)
#define PROBE_PASTE(suite, name) suite##_##name##_case

#endif
