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
#define KIVOS_EBADF 9
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
    X(EBADF, KIVOS_ERROR_TEXT)                  \
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

/* Flags of open. The access mode takes the low two bits; files are read
 * whatever it says, and both bits set is refused.
 */
#define KIVOS_O_RDONLY 0
#define KIVOS_O_WRONLY 1
#define KIVOS_O_ACCMODE 0x3
#define KIVOS_O_CREAT 0x40
#define KIVOS_O_TRUNC 0x200

/* Origins of lseek. */
#define KIVOS_SEEK_SET 0
#define KIVOS_SEEK_CUR 1
#define KIVOS_SEEK_END 2

/* Descriptors below KIVOS_FIRST_FILE_FD belong to the console: they are never
 * closed and cannot seek. Only KIVOS_CONSOLE_OUT_FD takes output; error
 * output goes there too, so KIVOS_CONSOLE_ERR_FD is only kept free.
 */
#define KIVOS_CONSOLE_IN_FD 0
#define KIVOS_CONSOLE_OUT_FD 1
#define KIVOS_CONSOLE_ERR_FD 2
#define KIVOS_FIRST_FILE_FD 3

/* The block that spawn_ex hands the kernel by address: one 32-bit word each.
 * The argument count is never negative and the flag is 0 or 1; the kernel
 * gives words 3 to 5 their meaning.
 */
enum kivos_spawn_word {
    KIVOS_SPAWN_PATH,
    KIVOS_SPAWN_ARGV,
    KIVOS_SPAWN_ARGC,
    KIVOS_SPAWN_ARG_A,
    KIVOS_SPAWN_ARG_B,
    KIVOS_SPAWN_ARG_C,
    KIVOS_SPAWN_FLAG,
    KIVOS_SPAWN_WORDS
};

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
