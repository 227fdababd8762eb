/* The kivos system calls, listed once for both sides of the trap.
 *
 * X(number, name, arguments): `arguments` spells how each argument register
 * (ebx, ecx, edx, esi, edi, ebp in that order) reads in a trace:
 *   d signed decimal, u unsigned decimal, x hexadecimal, p address, s path,
 *   w bytes handed to the call (as many as the next argument counts),
 *   r bytes the call filled in (as many as its answer counts);
 * "=p" after them: the answer is an address (signed decimal otherwise).
 * The library's wrappers take their call numbers from here and the host
 * machine's kernel dispatches on the same list, so the two cannot drift.
 * `sleep` shares call 22 with `usleep`.
 */
#ifndef KIVOS_SYSCALLS_H
#define KIVOS_SYSCALLS_H

/* One call a line. */
/* clang-format off */
#define KIVOS_SYSCALLS(X)                 \
    X(1, write, "dwu")                    \
    X(2, _exit, "d")                      \
    X(3, read, "dru")                     \
    X(4, open, "sxx")                     \
    X(5, close, "d")                      \
    X(6, getkey, "")                      \
    X(21, writefile, "swu")               \
    X(22, usleep, "u")                    \
    X(49, mkdir, "s")                     \
    X(50, unlink, "s")                    \
    X(51, rmdir, "s")                     \
    X(52, getcwd, "pu=p")                 \
    X(53, kivfs_stream_begin, "s")        \
    X(54, kivfs_stream_write, "dwu")      \
    X(55, kivfs_stream_end, "d")          \
    X(95, chdir, "s")                     \
    X(98, mmap, "puxxdd=p")               \
    X(99, munmap, "pu")                   \
    X(110, lseek, "ddd")                  \
    X(124, pipe, "p")                     \
    X(125, mkfifo, "s")                   \
    X(126, dup, "d")                      \
    X(127, dup2, "dd")                    \
    X(128, fd_set_inherit, "d")           \
    X(129, fd_set_stdio, "ddd")           \
    X(130, fd_set_nonblock, "dd")         \
    X(131, spawn, "spd")                  \
    X(132, waitpid, "dpd")                \
    X(150, spawn_ex, "pdd")
/* clang-format on */

enum kivos_syscall {
#define KIVOS_SYSCALL_ENUM(number, name, arguments) KIVOS_SYS_##name = number,
    KIVOS_SYSCALLS(KIVOS_SYSCALL_ENUM)
#undef KIVOS_SYSCALL_ENUM
};

/* The trap vector of every call. */
#define KIVOS_TRAP_VECTOR 0x80

#endif
