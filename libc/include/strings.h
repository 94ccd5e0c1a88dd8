/* The case-insensitive comparisons, where ordinary C programs look for
   them; beyond the core runtime. */
#ifndef KIVOS_STRINGS_H
#define KIVOS_STRINGS_H

#include <string.h>

#endif
