/* Format macros for the fixed-width integers of <stdint.h>, only for the
 * conversions that every formatter of this library reads alike: printf and
 * snprintf take d, i, u and x for every type of 32 bits or less (none for 64-bit
 * types, which only printf renders, nor X, which only snprintf renders), and
 * the scanf family, which reads no length modifier, takes d, i, u and x for
 * the types that are int or unsigned int. */
#ifndef KIVOS_INTTYPES_H
#define KIVOS_INTTYPES_H

#include <stdint.h>

/* Narrower arguments reach a variadic call as int, so one letter serves every width. */
#define PRId8 "d"
#define PRId16 "d"
#define PRId32 "d"
#define PRIdLEAST8 "d"
#define PRIdLEAST16 "d"
#define PRIdLEAST32 "d"
#define PRIdFAST8 "d"
#define PRIdFAST16 "d"
#define PRIdFAST32 "d"
#define PRIdPTR "d"

#define PRIi8 "i"
#define PRIi16 "i"
#define PRIi32 "i"
#define PRIiLEAST8 "i"
#define PRIiLEAST16 "i"
#define PRIiLEAST32 "i"
#define PRIiFAST8 "i"
#define PRIiFAST16 "i"
#define PRIiFAST32 "i"
#define PRIiPTR "i"

#define PRIu8 "u"
#define PRIu16 "u"
#define PRIu32 "u"
#define PRIuLEAST8 "u"
#define PRIuLEAST16 "u"
#define PRIuLEAST32 "u"
#define PRIuFAST8 "u"
#define PRIuFAST16 "u"
#define PRIuFAST32 "u"
#define PRIuPTR "u"

#define PRIx8 "x"
#define PRIx16 "x"
#define PRIx32 "x"
#define PRIxLEAST8 "x"
#define PRIxLEAST16 "x"
#define PRIxLEAST32 "x"
#define PRIxFAST8 "x"
#define PRIxFAST16 "x"
#define PRIxFAST32 "x"
#define PRIxPTR "x"

/* int32_t, int_least32_t, int_fast16_t, int_fast32_t and intptr_t are int here. */
#define SCNd32 "d"
#define SCNdLEAST32 "d"
#define SCNdFAST16 "d"
#define SCNdFAST32 "d"
#define SCNdPTR "d"

#define SCNi32 "i"
#define SCNiLEAST32 "i"
#define SCNiFAST16 "i"
#define SCNiFAST32 "i"
#define SCNiPTR "i"

#define SCNu32 "u"
#define SCNuLEAST32 "u"
#define SCNuFAST16 "u"
#define SCNuFAST32 "u"
#define SCNuPTR "u"

#define SCNx32 "x"
#define SCNxLEAST32 "x"
#define SCNxFAST16 "x"
#define SCNxFAST32 "x"
#define SCNxPTR "x"

#endif
