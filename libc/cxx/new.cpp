// The C++ allocation functions, over the heap arena. Programs are built without
// exceptions, so a plain new that the arena cannot satisfy ends the program;
// the nothrow forms give null instead. The arena never reuses memory, so every
// delete does nothing, as free does.
#include <stdint.h>
#include <stdlib.h>

#include "fatal.h"

// The two tag types of <new>, declared as that header defines them.
namespace std {
struct nothrow_t;
enum class align_val_t : size_t;
}  // namespace std

namespace {

// A plain new gets malloc's alignment, which kivos-cc tells the compiler
// (-faligned-new=4); anything aligned further comes through here. The block is
// over-allocated and the object placed at the first aligned address in it.
void *aligned_block(size_t size, std::align_val_t alignment) {
    const auto align = static_cast<size_t>(alignment);
    size_t padded;
    if (align == 0 || (align & (align - 1)) != 0 ||
        __builtin_add_overflow(size, align - 1, &padded))
        return nullptr;
    auto *block = static_cast<unsigned char *>(malloc(padded));
    if (block == nullptr) return nullptr;
    const size_t misalignment = reinterpret_cast<uintptr_t>(block) & (align - 1);
    return misalignment == 0 ? block : block + (align - misalignment);
}

void *required(void *block) {
    if (block == nullptr) fatal_error({"operator new: out of memory: the heap arena is exhausted"});
    return block;
}

}  // namespace

void *operator new(size_t size) {
    return required(malloc(size));
}

void *operator new[](size_t size) {
    return required(malloc(size));
}

void *operator new(size_t size, const std::nothrow_t &) noexcept {
    return malloc(size);
}

void *operator new[](size_t size, const std::nothrow_t &) noexcept {
    return malloc(size);
}

void *operator new(size_t size, std::align_val_t alignment) {
    return required(aligned_block(size, alignment));
}

void *operator new[](size_t size, std::align_val_t alignment) {
    return required(aligned_block(size, alignment));
}

void *operator new(size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept {
    return aligned_block(size, alignment);
}

void *operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept {
    return aligned_block(size, alignment);
}

void operator delete(void *) noexcept {}
void operator delete[](void *) noexcept {}
void operator delete(void *, size_t) noexcept {}
void operator delete[](void *, size_t) noexcept {}
void operator delete(void *, const std::nothrow_t &) noexcept {}
void operator delete[](void *, const std::nothrow_t &) noexcept {}
void operator delete(void *, std::align_val_t) noexcept {}
void operator delete[](void *, std::align_val_t) noexcept {}
void operator delete(void *, size_t, std::align_val_t) noexcept {}
void operator delete[](void *, size_t, std::align_val_t) noexcept {}
void operator delete(void *, std::align_val_t, const std::nothrow_t &) noexcept {}
void operator delete[](void *, std::align_val_t, const std::nothrow_t &) noexcept {}
