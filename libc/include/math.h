/* The functions of the C library's <math.h> whose results are exact under
   kivos-run, beyond the core runtime; -lm finds them in the runtime. */
#ifndef KIVOS_MATH_H
#define KIVOS_MATH_H

#ifdef __cplusplus
extern "C" {
#endif

#define HUGE_VAL (__builtin_huge_val())
#define INFINITY (__builtin_inff())
#define NAN (__builtin_nanf(""))
#define isnan(x) __builtin_isnan(x)
#define isinf(x) __builtin_isinf(x)

double fabs(double x);
double floor(double x);
double ceil(double x);
double trunc(double x);
double round(double x);
double fmod(double x, double y);
double sqrt(double x);
double ldexp(double x, int exp);
double frexp(double x, int *exp);
double modf(double x, double *whole);

#ifdef __cplusplus
}
#endif

#endif
