/* The kivos interface: every value that the library and the kernel must agree
 * on, written once for both. Plain C and nothing but KIVOS_ names, so that the
 * kivos headers and the host's kernel can include it beside their own.
 */
#ifndef KIVOS_ABI_H
#define KIVOS_ABI_H

#include <kivos/syscalls.h>

/* Error numbers: a failing call answers one of these, negated. */
#define KIVOS_EPERM 1
#define KIVOS_ENOENT 2
#define KIVOS_EIO 5
#define KIVOS_E2BIG 7
#define KIVOS_ENOEXEC 8
#define KIVOS_EBADF 9
#define KIVOS_ECHILD 10
#define KIVOS_EAGAIN 11
#define KIVOS_ENOMEM 12
#define KIVOS_EACCES 13
#define KIVOS_EFAULT 14
#define KIVOS_EBUSY 16
#define KIVOS_EEXIST 17
#define KIVOS_ENOTDIR 20
#define KIVOS_EISDIR 21
#define KIVOS_EINVAL 22
#define KIVOS_ENFILE 23
#define KIVOS_EMFILE 24
#define KIVOS_EFBIG 27
#define KIVOS_ENOSPC 28
#define KIVOS_ESPIPE 29
#define KIVOS_EROFS 30
#define KIVOS_EMLINK 31
#define KIVOS_EPIPE 32
#define KIVOS_ERANGE 34
#define KIVOS_ENAMETOOLONG 36
#define KIVOS_ENOSYS 38
#define KIVOS_ENOTEMPTY 39
#define KIVOS_ELOOP 40
#define KIVOS_EOVERFLOW 75
#define KIVOS_EDQUOT 122

/* Every call fails with an answer from -KIVOS_LAST_ERROR to -1, even one that
 * answers an address. */
#define KIVOS_LAST_ERROR 4095

/* What strerror answers for every code without a text of its own. */
#define KIVOS_ERROR_TEXT "error"

/* X(name, text): every error above once, with the text strerror gives for it.
 * The library's strerror and the machine's translation of host errors are
 * both made from it: a name missing above stops either build, and two names
 * of one number stop the library's.
 */
/* clang-format off */
#define KIVOS_ERRORS(X)                         \
    X(EPERM, KIVOS_ERROR_TEXT)                  \
    X(ENOENT, "no such file")                   \
    X(EIO, KIVOS_ERROR_TEXT)                    \
    X(E2BIG, KIVOS_ERROR_TEXT)                  \
    X(ENOEXEC, KIVOS_ERROR_TEXT)                \
    X(EBADF, KIVOS_ERROR_TEXT)                  \
    X(ECHILD, KIVOS_ERROR_TEXT)                 \
    X(EAGAIN, KIVOS_ERROR_TEXT)                 \
    X(ENOMEM, KIVOS_ERROR_TEXT)                 \
    X(EACCES, KIVOS_ERROR_TEXT)                 \
    X(EFAULT, KIVOS_ERROR_TEXT)                 \
    X(EBUSY, KIVOS_ERROR_TEXT)                  \
    X(EEXIST, KIVOS_ERROR_TEXT)                 \
    X(ENOTDIR, KIVOS_ERROR_TEXT)                \
    X(EISDIR, KIVOS_ERROR_TEXT)                 \
    X(EINVAL, "invalid argument")               \
    X(ENFILE, KIVOS_ERROR_TEXT)                 \
    X(EMFILE, KIVOS_ERROR_TEXT)                 \
    X(EFBIG, KIVOS_ERROR_TEXT)                  \
    X(ENOSPC, KIVOS_ERROR_TEXT)                 \
    X(ESPIPE, KIVOS_ERROR_TEXT)                 \
    X(EROFS, KIVOS_ERROR_TEXT)                  \
    X(EMLINK, KIVOS_ERROR_TEXT)                 \
    X(EPIPE, KIVOS_ERROR_TEXT)                  \
    X(ERANGE, KIVOS_ERROR_TEXT)                 \
    X(ENAMETOOLONG, KIVOS_ERROR_TEXT)           \
    X(ENOSYS, "not implemented")                \
    X(ENOTEMPTY, KIVOS_ERROR_TEXT)              \
    X(ELOOP, KIVOS_ERROR_TEXT)                  \
    X(EOVERFLOW, KIVOS_ERROR_TEXT)              \
    X(EDQUOT, KIVOS_ERROR_TEXT)
/* clang-format on */

/* Flags of open. The access mode takes the low two bits: reading, writing
 * or both; both bits set is refused.
 */
#define KIVOS_O_RDONLY 0
#define KIVOS_O_WRONLY 1
#define KIVOS_O_RDWR 2
#define KIVOS_O_ACCMODE 0x3
#define KIVOS_O_CREAT 0x40
#define KIVOS_O_TRUNC 0x200

/* Origins of lseek. */
#define KIVOS_SEEK_SET 0
#define KIVOS_SEEK_CUR 1
#define KIVOS_SEEK_END 2

/* The first process starts with the console's input on KIVOS_CONSOLE_IN_FD
 * and its output on KIVOS_CONSOLE_OUT_FD; error output goes to the console
 * output too, so KIVOS_CONSOLE_ERR_FD starts closed. A child starts with
 * what its parent chose for the three. open, pipe and dup hand out numbers
 * from KIVOS_FIRST_FILE_FD up; the lower ones change only by dup2 and close.
 */
#define KIVOS_CONSOLE_IN_FD 0
#define KIVOS_CONSOLE_OUT_FD 1
#define KIVOS_CONSOLE_ERR_FD 2
#define KIVOS_FIRST_FILE_FD 3

/* The block that spawn_ex hands the kernel by address: one 32-bit word each.
 * The argument count is never negative. The caller's descriptors in the
 * STDIN, STDOUT and STDERR words become the child's 0, 1 and 2; a negative
 * word takes the caller's fd_set_stdio choice for that number (at first its
 * own 0, 1 and 2); a negative choice, or one the caller has closed since,
 * leaves the number closed. A word naming a closed descriptor is refused
 * (EBADF), and so is an fd_set_stdio choice when it is made. INHERIT
 * is 0 or 1: 1 hands the child the caller's descriptors from
 * KIVOS_FIRST_FILE_FD up under their own numbers. Plain spawn is spawn_ex
 * with negative STDIN, STDOUT and STDERR words and the INHERIT that
 * fd_set_inherit chose (at first 0).
 */
enum kivos_spawn_word {
    KIVOS_SPAWN_PATH,
    KIVOS_SPAWN_ARGV,
    KIVOS_SPAWN_ARGC,
    KIVOS_SPAWN_STDIN,
    KIVOS_SPAWN_STDOUT,
    KIVOS_SPAWN_STDERR,
    KIVOS_SPAWN_INHERIT,
    KIVOS_SPAWN_WORDS
};

/* waitpid: KIVOS_WAIT_NOHANG in its options answers 0 at once while the
 * child runs. The status it stores is KIVOS_WAIT_EXITED(status of _exit) for
 * a child that called _exit, and KIVOS_WAIT_FAULTED for one that the system
 * ended because it faulted (the number conventional systems give a memory
 * fault).
 */
#define KIVOS_WAIT_NOHANG 1
#define KIVOS_WAIT_EXITED(status) ((0xff & (status)) << 8)
#define KIVOS_WAIT_FAULTED 11

/* mmap: protections, and the flags it takes: KIVOS_MAP_PRIVATE always,
 * KIVOS_MAP_ANONYMOUS for zeroed memory, else a read-only copy of a file.
 */
#define KIVOS_PROT_NONE 0
#define KIVOS_PROT_READ 1
#define KIVOS_PROT_WRITE 2
#define KIVOS_PROT_EXEC 4
#define KIVOS_MAP_PRIVATE 0x02
#define KIVOS_MAP_ANONYMOUS 0x20
#define KIVOS_MAP_FAILED (-1)

/* The command record and the package record, each alone in its section: the
 * magic, a 32-bit little-endian version, two NUL-terminated strings back to
 * back, and zero fill to a multiple of KIVOS_RECORD_FILL bytes.
 */
#define KIVOS_COMMAND_SECTION ".kivos.cmdmeta"
#define KIVOS_COMMAND_MAGIC "KCMD"
#define KIVOS_COMMAND_ALIGNMENT 32
#define KIVOS_PACKAGE_SECTION ".kivos.pkgmeta"
#define KIVOS_PACKAGE_MAGIC "KPKG"
#define KIVOS_PACKAGE_ALIGNMENT 4
#define KIVOS_RECORD_MAGIC_SIZE 4u
#define KIVOS_RECORD_VERSION 1u
#define KIVOS_RECORD_HEADER_SIZE 8u
#define KIVOS_RECORD_FILL 4u

#endif
