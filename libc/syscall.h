// The trap into the kivos kernel, for the library's wrappers only.
#ifndef KIVOS_LIBC_SYSCALL_H
#define KIVOS_LIBC_SYSCALL_H

#include <kivos/abi.h>
#include <stddef.h>

namespace kivos {

using word = unsigned long;

// Byte counts handed to the kernel never exceed this.
inline constexpr size_t k_max_kernel_count = 0x7fffffff;

inline size_t clamp_count(size_t count) {
    return count > k_max_kernel_count ? k_max_kernel_count : count;
}

inline word as_word(const volatile void *p) {
    return reinterpret_cast<word>(p);
}
inline word as_word(int v) {
    return static_cast<word>(v);
}
inline word as_word(unsigned int v) {
    return v;
}
inline word as_word(long v) {
    return static_cast<word>(v);
}
inline word as_word(unsigned long v) {
    return v;
}

// Registers that a call does not name are not loaded.
inline int trap(kivos_syscall number) {
    int result;
    asm volatile("int $0x80" : "=a"(result) : "a"(number) : "memory");
    return result;
}

template <typename A>
inline int trap(kivos_syscall number, A a) {
    int result;
    asm volatile("int $0x80" : "=a"(result) : "a"(number), "b"(as_word(a)) : "memory");
    return result;
}

template <typename A, typename B>
inline int trap(kivos_syscall number, A a, B b) {
    int result;
    asm volatile("int $0x80"
                 : "=a"(result)
                 : "a"(number), "b"(as_word(a)), "c"(as_word(b))
                 : "memory");
    return result;
}

template <typename A, typename B, typename C>
inline int trap(kivos_syscall number, A a, B b, C c) {
    int result;
    asm volatile("int $0x80"
                 : "=a"(result)
                 : "a"(number), "b"(as_word(a)), "c"(as_word(b)), "d"(as_word(c))
                 : "memory");
    return result;
}

// The write call as its wrapper makes it: a null buffer fails without a trap, the count is
// clamped. Inline, so the stream writer's loop costs no call.
inline int write_call(int fd, const void *buf, size_t count) {
    if (buf == nullptr) return -1;
    return trap(KIVOS_SYS_write, fd, buf, clamp_count(count));
}

}  // namespace kivos

#endif
