// The loops whose speed the benchmarks compare on the kivos machine and on the
// host: rounds of five instructions on registers, loading words, or storing
// words. Written in assembly, so that both compilers emit the same
// instructions (32-bit operands on either side).
#pragma once

namespace kivos::bench {

inline constexpr unsigned kInstructionsPerRound = 5;

inline void compute_loop(unsigned rounds) {
    unsigned sum = 0, mix = 0;
    asm volatile(
        "1: add %%ecx, %0\n\t"
        "xor %0, %1\n\t"
        "rol $3, %1\n\t"
        "dec %%ecx\n\t"
        "jnz 1b"
        : "+r"(sum), "+r"(mix), "+c"(rounds));
}

inline void load_loop(unsigned rounds, const unsigned *words) {
    unsigned sum = 0;
    asm volatile(
        "1: add (%2), %0\n\t"
        "add 4(%2), %0\n\t"
        "add 8(%2), %0\n\t"
        "dec %%ecx\n\t"
        "jnz 1b"
        : "+r"(sum), "+c"(rounds)
        : "r"(words)
        : "memory");
}

inline void store_loop(unsigned rounds, unsigned *words) {
    asm volatile(
        "1: mov %%ecx, (%1)\n\t"
        "mov %%ecx, 4(%1)\n\t"
        "mov %%ecx, 8(%1)\n\t"
        "dec %%ecx\n\t"
        "jnz 1b"
        : "+c"(rounds)
        : "r"(words)
        : "memory");
}

}  // namespace kivos::bench
