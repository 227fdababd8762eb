// The pseudo-random generator: a linear congruential step, seeded from the
// time-stamp counter when the program never calls srand.
#include <stdlib.h>
#include <stdint.h>

#include "stdlib/heap.h"

extern "C" {

constinit uint32_t g_rand_state = 1;
constinit uint32_t g_rand_seeded = 0;

}  // extern "C"

namespace {

// lowbias32: spreads the few changing bits of the counter over the whole word.
uint32_t lowbias32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

void set_state(uint32_t seed) {
    g_rand_state = seed == 0 ? 1 : seed;
    g_rand_seeded = 1;
}

uint32_t address_bits(const volatile void *p) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

}  // namespace

extern "C" {

void srand(unsigned int seed) {
    set_state(seed);
}

int rand(void) {
    if (g_rand_seeded == 0) {
        // The stack and arena addresses add what little else differs from run to run.
        uint32_t low;
        uint32_t high;
        asm volatile("rdtsc" : "=a"(low), "=d"(high));
        const volatile uint32_t on_stack = 0;
        set_state(lowbias32(low ^ (high * 1664525u) ^ address_bits(&on_stack) ^
                            address_bits(&g_heap_used) ^ 0x9E3779B9u));
    }
    g_rand_state = g_rand_state * 1103515245u + 12345u;
    return static_cast<int>((g_rand_state >> 16) & RAND_MAX);
}

}  // extern "C"
