// Opening files.
#include <fcntl.h>

#include "syscall.h"

using kivos::trap;

extern "C" {

int open(const char *path, int flags, ...) {
    if (path == nullptr) return -1;
    return trap(KIVOS_SYS_open, path, flags, (flags & O_CREAT) != 0 ? flags : 0);
}

int creat(const char *path, mode_t) {
    if (path == nullptr) return -1;
    return trap(KIVOS_SYS_open, path, O_WRONLY | O_CREAT | O_TRUNC, 0);
}

}  // extern "C"
