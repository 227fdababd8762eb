// 64-bit unsigned division for the library: nothing links the compiler's runtime,
// so `/` and `%` on 64-bit integers are never written in libc.
#ifndef KIVOS_LIBC_DIVMOD_H
#define KIVOS_LIBC_DIVMOD_H

#include <stdint.h>

extern "C" {

// dividend / divisor, with the remainder in *remainder. divisor must not be 0.
uint64_t udivmod64(uint64_t dividend, uint64_t divisor, uint64_t *remainder);

}  // extern "C"

#endif
