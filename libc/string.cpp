// Strings and memory. The length and comparison routines test a word at a time where they may:
// a word read from a multiple of four lies in one page, the page of its first byte, so it touches
// no page that a walk byte by byte would not.
#include <string.h>

#include <stdint.h>
#include <stdlib.h>

#include "memory_ops.h"

namespace {

// Pointers into the first page name no string: such a pointer is never read.
constexpr uintptr_t k_first_valid_address = 4096;

bool is_low(const void *p) {
    return reinterpret_cast<uintptr_t>(p) < k_first_valid_address;
}

unsigned char byte_at(const char *s, size_t i) {
    return static_cast<unsigned char>(s[i]);
}

int difference(unsigned char a, unsigned char b) {
    return static_cast<int>(a) - static_cast<int>(b);
}

// The absent-pointer answers shared by the comparisons; false when both are strings.
bool compare_absent(const char *a, const char *b, int *result) {
    if (a == b) {
        *result = 0;
    } else if (is_low(a)) {
        *result = -1;
    } else if (is_low(b)) {
        *result = 1;
    } else {
        return false;
    }
    return true;
}

constexpr size_t k_word_size = 4;
constexpr uint32_t k_low_bits = 0x01010101u;
constexpr uint32_t k_high_bits = 0x80808080u;

// A word may alias any byte string.
using word_alias = uint32_t __attribute__((__may_alias__));

bool is_word_aligned(const void *p) {
    return (reinterpret_cast<uintptr_t>(p) & kivos::memory::k_word_mask) == 0;
}

bool same_alignment(const void *a, const void *b) {
    return ((reinterpret_cast<uintptr_t>(a) ^ reinterpret_cast<uintptr_t>(b)) &
            kivos::memory::k_word_mask) == 0;
}

uint32_t word_at(const void *p) {
    return *static_cast<const word_alias *>(p);
}

// A cheap first test: the high bit of every zero byte of w, and of bytes above 0x80 too.
uint32_t zero_candidates(uint32_t w) {
    return (w - k_low_bits) & k_high_bits;
}

bool may_hold_zero(uint32_t w) {
    return zero_candidates(w) != 0;
}

// The high bit of every zero byte; bits above the first zero byte may be set too, so only the
// lowest set bit is meaningful.
uint32_t zero_bytes(uint32_t w) {
    return zero_candidates(w) & ~w;
}

// Two words from a multiple of eight lie in one page too.
constexpr size_t k_pair_size = 8;

bool is_pair_aligned(const void *p) {
    return (reinterpret_cast<uintptr_t>(p) & (k_pair_size - 1)) == 0;
}

// A zero byte in either word leaves a zero byte in their AND, so one cheap test covers both;
// bytes with no bit in common trip it too.
bool pair_may_hold_zero(const char *p) {
    return may_hold_zero(word_at(p) & word_at(p + k_word_size));
}

// The first pair from p on (p a multiple of eight) that may hold a zero byte, two pairs a
// round: the loop's own jump costs as much as testing a pair.
const char *next_pair_that_may_hold_zero(const char *p) {
    for (;; p += 2 * k_pair_size) {
        if (pair_may_hold_zero(p)) return p;
        if (pair_may_hold_zero(p + k_pair_size)) return p + k_pair_size;
    }
}

// Index (0 to 3) of the first zero byte of a little-endian word, given zero_bytes(w) != 0.
size_t first_zero_index(uint32_t zeros) {
    return static_cast<size_t>(__builtin_ctz(zeros)) / 8;
}

// ASCII letters only: bytes from 0x80 up have no case here.
unsigned char fold(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + ('a' - 'A')) : b;
}

// The case-insensitive comparisons count low pointers as absent, like null,
// and never read them; false when both are strings to walk.
bool case_compare_absent(const char *a, const char *b, int *result) {
    if (a == b || (is_low(a) && is_low(b))) {
        *result = 0;
    } else if (is_low(a)) {
        *result = -1;
    } else if (is_low(b)) {
        *result = 1;
    } else {
        return false;
    }
    return true;
}

// A null or empty set has no members.
bool is_delimiter(char c, const char *delim) {
    if (delim == nullptr) return false;
    for (; *delim != '\0'; ++delim) {
        if (*delim == c) return true;
    }
    return false;
}

// A fresh heap copy of the first `length` bytes of s with a terminator.
char *copy_to_heap(const char *s, size_t length) {
    auto *copy = static_cast<char *>(malloc(length + 1));
    if (copy == nullptr) return nullptr;
    memcpy(copy, s, length);
    copy[length] = '\0';
    return copy;
}

}  // namespace

extern "C" {

// Kept whole: split for inlining into its callers here, it would cost every call a jump.
__attribute__((noinline)) size_t strlen(const char *s) {
    if (is_low(s)) return 0;
    const char *p = s;
    for (; !is_word_aligned(p); ++p) {
        if (*p == '\0') return static_cast<size_t>(p - s);
    }
    for (;; p += k_word_size) {
        if (is_pair_aligned(p)) p = next_pair_that_may_hold_zero(p);
        const uint32_t zeros = zero_bytes(word_at(p));
        if (zeros != 0) return static_cast<size_t>(p - s) + first_zero_index(zeros);
    }
}

// Reads only words whose first byte lies below maxlen. Kept whole, like strlen.
__attribute__((noinline)) size_t strnlen(const char *s, size_t maxlen) {
    if (is_low(s)) return 0;
    for (size_t n = 0; n < maxlen; ++n) {
        if (is_word_aligned(s + n)) {
            const uint32_t zeros = zero_bytes(word_at(s + n));
            if (zeros != 0) {
                n += first_zero_index(zeros);
                return n < maxlen ? n : maxlen;
            }
            n += k_word_size - 1;
        } else if (s[n] == '\0') {
            return n;
        }
    }
    return maxlen;
}

int strcmp(const char *a, const char *b) {
    int result;
    if (compare_absent(a, b, &result)) return result;
    size_t i = 0;
    if (same_alignment(a, b)) {
        for (; !is_word_aligned(a + i); ++i) {
            if (a[i] != b[i] || a[i] == '\0') return difference(byte_at(a, i), byte_at(b, i));
        }
        // b's word is read only once a's and b's bytes so far are equal, none of them a terminator.
        for (;; i += k_word_size) {
            const uint32_t w = word_at(a + i);
            if (w != word_at(b + i)) break;
            if (may_hold_zero(w) && zero_bytes(w) != 0) return 0;
        }
    }
    while (a[i] == b[i] && a[i] != '\0') ++i;
    return difference(byte_at(a, i), byte_at(b, i));
}

int strncmp(const char *a, const char *b, size_t n) {
    if (n == 0) return 0;
    int result;
    if (compare_absent(a, b, &result)) return result;
    size_t i = 0;
    if (same_alignment(a, b)) {
        for (; i < n && !is_word_aligned(a + i); ++i) {
            if (a[i] != b[i] || a[i] == '\0') return difference(byte_at(a, i), byte_at(b, i));
        }
        for (; n - i >= k_word_size; i += k_word_size) {
            const uint32_t w = word_at(a + i);
            if (w != word_at(b + i)) break;
            if (zero_bytes(w) != 0) return 0;
        }
    }
    for (; i < n; ++i) {
        if (a[i] != b[i] || a[i] == '\0') return difference(byte_at(a, i), byte_at(b, i));
    }
    return 0;
}

char *strcpy(char *dst, const char *src) {
    if (dst == nullptr) return nullptr;
    if (src == nullptr) src = "";
    size_t i = 0;
    while ((dst[i] = src[i]) != '\0') ++i;
    return dst;
}

char *strncpy(char *dst, const char *src, size_t n) {
    if (dst == nullptr) return nullptr;
    if (src == nullptr) src = "";
    size_t i = 0;
    for (; i < n && src[i] != '\0'; ++i) dst[i] = src[i];
    for (; i < n; ++i) dst[i] = '\0';
    return dst;
}

char *strcat(char *dst, const char *src) {
    if (dst == nullptr) return nullptr;
    strcpy(dst + strlen(dst), src);
    return dst;
}

char *strncat(char *dst, const char *src, size_t n) {
    if (dst == nullptr) return nullptr;
    char *end = dst + strlen(dst);
    if (src == nullptr || n == 0) return dst;
    size_t i = 0;
    for (; i < n && src[i] != '\0'; ++i) end[i] = src[i];
    end[i] = '\0';
    return dst;
}

char *strchr(const char *s, int c) {
    if (s == nullptr) return nullptr;
    const char wanted = static_cast<char>(c);
    for (;; ++s) {
        if (*s == wanted) return const_cast<char *>(s);
        if (*s == '\0') return nullptr;
    }
}

char *strrchr(const char *s, int c) {
    if (s == nullptr) return nullptr;
    const char wanted = static_cast<char>(c);
    const char *last = nullptr;
    for (;; ++s) {
        if (*s == wanted) last = s;
        if (*s == '\0') return const_cast<char *>(last);
    }
}

char *strstr(const char *hay, const char *needle) {
    if (hay == nullptr || needle == nullptr) return nullptr;
    if (needle[0] == '\0') return const_cast<char *>(hay);
    for (; *hay != '\0'; ++hay) {
        size_t i = 0;
        while (needle[i] != '\0' && hay[i] == needle[i]) ++i;
        if (needle[i] == '\0') return const_cast<char *>(hay);
    }
    return nullptr;
}

void *memcpy(void *dst, const void *src, size_t n) {
    kivos::memory::copy_up(dst, src, n);
    return dst;
}

void *memmove(void *dst, const void *src, size_t n) {
    if (dst == src || n == 0) return dst;
    if (reinterpret_cast<uintptr_t>(dst) < reinterpret_cast<uintptr_t>(src)) {
        kivos::memory::copy_up(dst, src, n);
    } else {
        kivos::memory::copy_down(dst, src, n);
    }
    return dst;
}

void *memset(void *dst, int c, size_t n) {
    kivos::memory::fill(dst, static_cast<unsigned char>(c), n);
    return dst;
}

int memcmp(const void *a, const void *b, size_t n) {
    const auto *x = static_cast<const unsigned char *>(a);
    const auto *y = static_cast<const unsigned char *>(b);
    size_t i = 0;
    if (same_alignment(x, y)) {
        for (; i < n && !is_word_aligned(x + i); ++i) {
            if (x[i] != y[i]) return difference(x[i], y[i]);
        }
        while (n - i >= k_word_size && word_at(x + i) == word_at(y + i)) i += k_word_size;
    }
    for (; i < n; ++i) {
        if (x[i] != y[i]) return difference(x[i], y[i]);
    }
    return 0;
}

// A low pointer gives a fresh empty string, as in strndup, and is never read.
char *strdup(const char *s) {
    if (s == nullptr) return nullptr;
    return copy_to_heap(s, strlen(s));
}

// Never reads byte n, so an unterminated input of n bytes is safe.
char *strndup(const char *s, size_t n) {
    if (s == nullptr) return nullptr;
    return copy_to_heap(s, strnlen(s, n));
}

int strcasecmp(const char *a, const char *b) {
    int result;
    if (case_compare_absent(a, b, &result)) return result;
    size_t i = 0;
    while (fold(a[i]) == fold(b[i]) && a[i] != '\0') ++i;
    return difference(fold(a[i]), fold(b[i]));
}

int strncasecmp(const char *a, const char *b, size_t n) {
    if (n == 0) return 0;
    int result;
    if (case_compare_absent(a, b, &result)) return result;
    for (size_t i = 0; i < n; ++i) {
        if (fold(a[i]) != fold(b[i]) || a[i] == '\0') return difference(fold(a[i]), fold(b[i]));
    }
    return 0;
}

// Empty tokens are never returned: runs of delimiters are skipped whole.
char *strtok(char *s, const char *delim) {
    static char *s_next;
    if (s != nullptr) {
        s_next = s;
    } else if (s_next == nullptr) {
        return nullptr;
    }
    char *p = s_next;
    while (*p != '\0' && is_delimiter(*p, delim)) ++p;
    if (*p == '\0') {
        s_next = nullptr;
        return nullptr;
    }
    char *token = p;
    while (*p != '\0' && !is_delimiter(*p, delim)) ++p;
    if (*p == '\0') {
        s_next = nullptr;
    } else {
        *p = '\0';
        s_next = p + 1;
    }
    return token;
}

}  // extern "C"
