/* Opening files on kivos. */
#ifndef KIVOS_FCNTL_H
#define KIVOS_FCNTL_H

#include <kivos/cdefs.h>

typedef unsigned int mode_t;

#define O_RDONLY 0
#define O_WRONLY 1
#define O_CREAT 0x40
#define O_TRUNC 0x200

KIVOS_BEGIN_DECLS

/* A mode argument is read only when O_CREAT is set, and then not passed on. */
int open(const char *path, int flags, ...);
/* Opens with O_WRONLY | O_CREAT | O_TRUNC; the mode is ignored. */
int creat(const char *path, mode_t mode);

KIVOS_END_DECLS

#endif
