// The error variable and the error texts.
#include <errno.h>
#include <string.h>

// Only the heap writes it, with ENOMEM; nothing clears it.
int errno;

extern "C" char *strerror(int code) {
    switch (code) {
        case 0:
            return const_cast<char *>("ok");
        case ENOENT:
            return const_cast<char *>("no such file");
        case EINVAL:
            return const_cast<char *>("invalid argument");
        case ENOSYS:
            return const_cast<char *>("not implemented");
        default:
            return const_cast<char *>("error");
    }
}
