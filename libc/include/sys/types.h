/* The sizes and numbers ordinary C programs name; beyond the core
   runtime. */
#ifndef KIVOS_SYS_TYPES_H
#define KIVOS_SYS_TYPES_H

#include <stddef.h>

typedef int ssize_t;
typedef long off_t;
typedef int pid_t;

#endif
