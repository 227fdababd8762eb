/* Opening files on kivos. */
#ifndef KIVOS_FCNTL_H
#define KIVOS_FCNTL_H

#include <kivos/abi.h>
#include <kivos/cdefs.h>

typedef unsigned int mode_t;

#define O_RDONLY KIVOS_O_RDONLY
#define O_WRONLY KIVOS_O_WRONLY
#define O_RDWR KIVOS_O_RDWR
#define O_CREAT KIVOS_O_CREAT
#define O_TRUNC KIVOS_O_TRUNC

KIVOS_BEGIN_DECLS

/* No mode argument is read: with O_CREAT the flags go to the kernel again where a mode would. */
int open(const char *path, int flags, ...);
/* Opens with O_WRONLY | O_CREAT | O_TRUNC; the mode is ignored. */
int creat(const char *path, mode_t mode);

KIVOS_END_DECLS

#endif
