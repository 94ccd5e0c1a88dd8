/* Checks and case tables shared by the test programs that run under
   kivos-run and by the host sanitizer build of the same cases. Nothing here
   depends on the runtime, so the host runner can include it too. */
#ifndef KIVOS_CHECK_H
#define KIVOS_CHECK_H

#ifdef __cplusplus
extern "C" {
#endif

/* Records a failed check; the build decides how it is shown. */
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

/* CASE(name) { ... } defines one case of the suite SUITE (the build sets it
   per file). The build lists every CASE of a file in its suite's table, so
   no table is written by hand. */
#define CASE(name) void PROBE_CASE(SUITE, name)(int argc, char **argv)
#define PROBE_CASE(suite, name) PROBE_PASTE(suite, name)
#define PROBE_PASTE(suite, name) suite##_##name##_case

#ifdef __cplusplus
}
#endif

#endif
