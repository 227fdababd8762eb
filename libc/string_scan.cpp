// Scanning for bytes and for members of a set of bytes.
#include <stdint.h>
#include <string.h>

#include "low_address.h"

namespace {

// The bytes of a NUL-terminated set, one bit each; the terminator is never a member.
class ByteSet {
  public:
    explicit ByteSet(const char *members) {
        if (is_low_address(members)) return;
        for (; *members != '\0'; ++members) add(static_cast<unsigned char>(*members));
    }

    bool contains(char c) const {
        const auto byte = static_cast<unsigned char>(c);
        return (words_[byte / 32] >> (byte % 32)) & 1u;
    }

  private:
    void add(unsigned char byte) { words_[byte / 32] |= 1u << (byte % 32); }

    uint32_t words_[256 / 32] = {};
};

}  // namespace

extern "C" {

void *memchr(const void *s, int c, size_t n) {
    if (is_low_address(s)) return nullptr;
    const auto *bytes = static_cast<const unsigned char *>(s);
    const auto wanted = static_cast<unsigned char>(c);
    for (size_t i = 0; i < n; ++i) {
        if (bytes[i] == wanted) return const_cast<unsigned char *>(bytes + i);
    }
    return nullptr;
}

size_t strspn(const char *s, const char *accept) {
    if (is_low_address(s)) return 0;
    const ByteSet set(accept);
    size_t n = 0;
    while (set.contains(s[n])) ++n;
    return n;
}

size_t strcspn(const char *s, const char *reject) {
    if (is_low_address(s)) return 0;
    const ByteSet set(reject);
    size_t n = 0;
    while (s[n] != '\0' && !set.contains(s[n])) ++n;
    return n;
}

char *strpbrk(const char *s, const char *accept) {
    if (is_low_address(s)) return nullptr;
    const char *found = s + strcspn(s, accept);
    return *found != '\0' ? const_cast<char *>(found) : nullptr;
}

}  // extern "C"
