// The defensive routines' rule for pointers: the first page holds nothing, so
// a pointer into it is taken for no pointer at all and is never read.
#ifndef KIVOS_LIBC_LOW_ADDRESS_H
#define KIVOS_LIBC_LOW_ADDRESS_H

#include <stdint.h>

inline bool is_low_address(const void *p) {
    return reinterpret_cast<uintptr_t>(p) < 4096;
}

#endif
