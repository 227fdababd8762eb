// Bump allocation over a fixed arena in the bss: a constant number of steps per
// call, and no byte is ever handed out twice, so fresh blocks are still zero.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "stdlib/heap.h"

extern "C" {

alignas(8) constinit unsigned char g_heap[k_heap_size] = {};
constinit uint32_t g_heap_used = 0;

}  // extern "C"

namespace {

// Each block is a header word holding the recorded size, then the payload, rounded
// up to 8 bytes: payloads lie 4 bytes past a multiple of 8.
constexpr uint32_t k_header_size = 4;
constexpr uint32_t k_block_alignment = 8;

// A request of 0 is recorded as 1, so every block has a payload to copy from.
size_t recorded_size(size_t size) {
    return size == 0 ? 1 : size;
}

uint32_t block_size(size_t n) {
    return (n + k_header_size + k_block_alignment - 1) & ~(k_block_alignment - 1);
}

// Carves the next block for n recorded bytes, or refuses with ENOMEM. n is held
// against the room left before it is rounded, so nothing can wrap.
void *take_block(size_t n) {
    const uint32_t room = k_heap_size - g_heap_used;
    if (n > room || block_size(n) > room) {
        errno = ENOMEM;
        return nullptr;
    }
    unsigned char *header = g_heap + g_heap_used;
    *reinterpret_cast<uint32_t *>(header) = n;
    g_heap_used += block_size(n);
    return header + k_header_size;
}

size_t recorded_size_of(const void *payload) {
    return *reinterpret_cast<const uint32_t *>(static_cast<const unsigned char *>(payload) -
                                               k_header_size);
}

}  // namespace

extern "C" {

void *malloc(size_t size) {
    return take_block(recorded_size(size));
}

void *calloc(size_t count, size_t size) {
    if (count == 0 || size == 0) return malloc(0);
    size_t n;
    if (__builtin_mul_overflow(count, size, &n)) {
        errno = ENOMEM;
        return nullptr;
    }
    void *block = take_block(n);
    if (block != nullptr) memset(block, 0, n);
    return block;
}

// Always a new block: the old one stays readable with its old contents.
void *realloc(void *ptr, size_t size) {
    const size_t n = recorded_size(size);
    void *block = take_block(n);
    if (block == nullptr || ptr == nullptr) return block;
    const size_t old = recorded_size_of(ptr);
    memcpy(block, ptr, old < n ? old : n);
    return block;
}

void free(void *) {}

}  // extern "C"
