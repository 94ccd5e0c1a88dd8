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

#ifdef __cplusplus
}
#endif

#endif
