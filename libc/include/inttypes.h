/* printf and scanf conversions for the fixed-width integers, as the kivos
   formatters read them (int and long are 32 bits, long long 64: the 64-bit
   ones are for printf and fprintf, as snprintf takes 32-bit arguments), and
   strtoimax and strtoumax; beyond the core runtime. */
#ifndef KIVOS_INTTYPES_H
#define KIVOS_INTTYPES_H

#include <stdint.h>
#include <stdlib.h>

#define PRId8 "d"
#define PRId16 "d"
#define PRId32 "d"
#define PRId64 "lld"
#define PRIi32 "i"
#define PRIi64 "lli"
#define PRIu8 "u"
#define PRIu16 "u"
#define PRIu32 "u"
#define PRIu64 "llu"
#define PRIx8 "x"
#define PRIx16 "x"
#define PRIx32 "x"
#define PRIx64 "llx"
#define PRIdPTR "d"
#define PRIuPTR "u"
#define PRIxPTR "x"
#define PRIdMAX "lld"
#define PRIuMAX "llu"
#define SCNd32 "d"
#define SCNi32 "i"
#define SCNu32 "u"
#define SCNx32 "x"

#define strtoimax(s, end, base) strtoll(s, end, base)
#define strtoumax(s, end, base) strtoull(s, end, base)

#endif
