// The bytes of an ELF32 file, read and patched, for the tests that damage images.
#pragma once

#include <elf.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "harness/guest.h"

namespace kivos::test {

using Bytes = std::vector<uint8_t>;

inline Bytes file_bytes(const char *path) {
    const std::string text = read_file(path);
    return Bytes(text.begin(), text.end());
}

inline uint32_t get32(const Bytes &b, size_t at) {
    uint32_t v;
    std::memcpy(&v, &b[at], 4);
    return v;
}
inline void put16(Bytes &b, size_t at, uint16_t v) {
    std::memcpy(&b[at], &v, 2);
}
inline void put32(Bytes &b, size_t at, uint32_t v) {
    std::memcpy(&b[at], &v, 4);
}

// Where a field of the Nth program header, or of the Nth section header, sits in the file.
inline size_t program_field(const Bytes &b, size_t index, size_t field) {
    return get32(b, offsetof(Elf32_Ehdr, e_phoff)) + index * sizeof(Elf32_Phdr) + field;
}
inline size_t section_field(const Bytes &b, size_t index, size_t field) {
    return get32(b, offsetof(Elf32_Ehdr, e_shoff)) + index * sizeof(Elf32_Shdr) + field;
}

}  // namespace kivos::test
