// Strings and memory, one byte at a time.
#include <string.h>

#include <stdint.h>
#include <stdlib.h>

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

size_t strlen(const char *s) {
    if (is_low(s)) return 0;
    size_t n = 0;
    while (s[n] != '\0') ++n;
    return n;
}

size_t strnlen(const char *s, size_t maxlen) {
    if (is_low(s)) return 0;
    size_t n = 0;
    while (n < maxlen && s[n] != '\0') ++n;
    return n;
}

int strcmp(const char *a, const char *b) {
    int result;
    if (compare_absent(a, b, &result)) return result;
    size_t i = 0;
    while (a[i] == b[i] && a[i] != '\0') ++i;
    return difference(byte_at(a, i), byte_at(b, i));
}

int strncmp(const char *a, const char *b, size_t n) {
    if (n == 0) return 0;
    int result;
    if (compare_absent(a, b, &result)) return result;
    for (size_t i = 0; i < n; ++i) {
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
    auto *d = static_cast<unsigned char *>(dst);
    const auto *s = static_cast<const unsigned char *>(src);
    for (size_t i = 0; i < n; ++i) d[i] = s[i];
    return dst;
}

void *memmove(void *dst, const void *src, size_t n) {
    if (dst == src || n == 0) return dst;
    auto *d = static_cast<unsigned char *>(dst);
    const auto *s = static_cast<const unsigned char *>(src);
    if (reinterpret_cast<uintptr_t>(d) < reinterpret_cast<uintptr_t>(s)) {
        for (size_t i = 0; i < n; ++i) d[i] = s[i];
    } else {
        for (size_t i = n; i > 0; --i) d[i - 1] = s[i - 1];
    }
    return dst;
}

void *memset(void *dst, int c, size_t n) {
    auto *d = static_cast<unsigned char *>(dst);
    const auto value = static_cast<unsigned char>(c);
    for (size_t i = 0; i < n; ++i) d[i] = value;
    return dst;
}

int memcmp(const void *a, const void *b, size_t n) {
    const auto *x = static_cast<const unsigned char *>(a);
    const auto *y = static_cast<const unsigned char *>(b);
    for (size_t i = 0; i < n; ++i) {
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
