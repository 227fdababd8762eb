// The heap arena, shared with the parts of the library that need its address.
#ifndef KIVOS_LIBC_STDLIB_HEAP_H
#define KIVOS_LIBC_STDLIB_HEAP_H

#include <stdint.h>

inline constexpr uint32_t k_heap_size = 0x100000;

extern "C" {

extern unsigned char g_heap[k_heap_size];
// Bytes handed out so far: a multiple of 8 that only grows.
extern uint32_t g_heap_used;

}  // extern "C"

#endif
