// Moving and filling bytes with the x86 string instructions. A `rep` runs one element per
// iteration, so whole words move four bytes for the price of one. The direction flag is clear
// whenever a function is entered or left; only copy_down sets it, and clears it again.
#ifndef KIVOS_LIBC_MEMORY_OPS_H
#define KIVOS_LIBC_MEMORY_OPS_H

#include <stddef.h>
#include <stdint.h>

namespace kivos::memory {

inline constexpr uintptr_t k_word_mask = 3;

// Bytes before `address` reaches a multiple of four, at most n.
inline size_t bytes_to_boundary(uintptr_t address, size_t n) {
    const size_t head = (0u - address) & k_word_mask;
    return head < n ? head : n;
}

// Bytes since the last multiple of four below `address`, at most n.
inline size_t bytes_past_boundary(uintptr_t address, size_t n) {
    const size_t tail = address & k_word_mask;
    return tail < n ? tail : n;
}

// Byte by byte, ascending: for the short runs where setting up words costs more than it saves.
inline void copy_bytes(void *dst, const void *src, size_t n) {
    asm volatile("rep movsb" : "+D"(dst), "+S"(src), "+c"(n) : : "memory");
}

inline void fill_bytes(void *dst, unsigned char byte, size_t n) {
    asm volatile("rep stosb" : "+D"(dst), "+c"(n) : "a"(byte) : "memory");
}

// A string instruction over ecx bytes, then %[words] words, then %[tail] bytes.
// clang-format off
#define KIVOS_BYTES_WORDS_BYTES(op)  \
    "rep " op "b\n\t"               \
    "movl %[words], %%ecx\n\t"      \
    "rep " op "l\n\t"               \
    "movl %[tail], %%ecx\n\t"       \
    "rep " op "b"
// clang-format on

// Ascending: single bytes up to a word boundary of the destination, whole words, the last bytes.
inline void copy_up(void *dst, const void *src, size_t n) {
    size_t head = bytes_to_boundary(reinterpret_cast<uintptr_t>(dst), n);
    const size_t rest = n - head;
    asm volatile(KIVOS_BYTES_WORDS_BYTES("movs")
                 : "+D"(dst), "+S"(src), "+c"(head)
                 : [words] "rm"(rest >> 2), [tail] "rm"(rest & k_word_mask)
                 : "memory");
}

// Descending, the mirror of copy_up: from the last byte down to the first, so a destination that
// overlaps the source from above reads every source byte before overwriting it.
inline void copy_down(void *dst, const void *src, size_t n) {
    auto *d = static_cast<char *>(dst) + n - 1;
    const auto *s = static_cast<const char *>(src) + n - 1;
    size_t head = bytes_past_boundary(reinterpret_cast<uintptr_t>(d) + 1, n);
    const size_t rest = n - head;
    // A byte moves from the address in esi to the one in edi, a word from the four bytes that end
    // there: hence the steps of three between bytes and words.
    asm volatile(
        "std\n\t"
        "rep movsb\n\t"
        "subl $3, %%edi\n\t"
        "subl $3, %%esi\n\t"
        "movl %[words], %%ecx\n\t"
        "rep movsl\n\t"
        "addl $3, %%edi\n\t"
        "addl $3, %%esi\n\t"
        "movl %[tail], %%ecx\n\t"
        "rep movsb\n\t"
        "cld"
        : "+D"(d), "+S"(s), "+c"(head)
        : [words] "rm"(rest >> 2), [tail] "rm"(rest & k_word_mask)
        : "memory", "cc");
}

// The byte in every place: single bytes up to a word boundary, whole words, the last bytes.
inline void fill(void *dst, unsigned char byte, size_t n) {
    size_t head = bytes_to_boundary(reinterpret_cast<uintptr_t>(dst), n);
    const size_t rest = n - head;
    asm volatile(KIVOS_BYTES_WORDS_BYTES("stos")
                 : "+D"(dst), "+c"(head)
                 : "a"(byte * 0x01010101u), [words] "rm"(rest >> 2), [tail] "rm"(rest & k_word_mask)
                 : "memory");
}

#undef KIVOS_BYTES_WORDS_BYTES

}  // namespace kivos::memory

#endif
