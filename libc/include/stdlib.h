#ifndef KIVOS_STDLIB_H
#define KIVOS_STDLIB_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void *malloc(size_t n);
void *calloc(size_t count, size_t size);
void *realloc(void *p, size_t n);
void free(void *p);

unsigned long strtoul(const char *s, char **end, int base);
long strtol(const char *s, char **end, int base);
int atoi(const char *s);
long atol(const char *s);
long double strtold(const char *s, char **end);
double strtod(const char *s, char **end);

#define RAND_MAX 32767
#define EXIT_SUCCESS 0
#define EXIT_FAILURE 1

__attribute__((noreturn)) void exit(int status);
__attribute__((noreturn)) void abort(void);
int atexit(void (*fn)(void));
char *getenv(const char *name);
void srand(unsigned int seed);
int rand(void);
int abs(int x);
long labs(long x);

/* Beyond the core runtime, with the C library's usual meaning. */
typedef struct {
  int quot, rem;
} div_t;
typedef struct {
  long quot, rem;
} ldiv_t;
typedef struct {
  long long quot, rem;
} lldiv_t;
long long strtoll(const char *s, char **end, int base);
unsigned long long strtoull(const char *s, char **end, int base);
long long atoll(const char *s);
long long llabs(long long x);
div_t div(int a, int b);
ldiv_t ldiv(long a, long b);
lldiv_t lldiv(long long a, long long b);
void qsort(void *items, size_t n, size_t size, int (*compare)(const void *, const void *));
void *bsearch(const void *key, const void *items, size_t n, size_t size,
              int (*compare)(const void *, const void *));

#ifdef __cplusplus
}
#endif

#endif
