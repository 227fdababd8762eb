/* The error variable. Only the heap writes it, always with ENOMEM. */
#ifndef KIVOS_ERRNO_H
#define KIVOS_ERRNO_H

#include <kivos/cdefs.h>

#define ENOENT 2
#define EBADF 9
#define ENOMEM 12
#define EFAULT 14
#define EINVAL 22
#define ENOSYS 38

KIVOS_BEGIN_DECLS

extern int errno;

KIVOS_END_DECLS

#endif
