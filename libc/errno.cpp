// The error variable and the error texts.
#include <errno.h>
#include <string.h>

// Every error of the kernel has its usual name here, with the kernel's number.
#define KIVOS_CHECK_NAME(name, text) static_assert(name == KIVOS_##name, #name);
KIVOS_ERRORS(KIVOS_CHECK_NAME)
#undef KIVOS_CHECK_NAME

// Only the heap writes it, with ENOMEM; nothing clears it.
int errno;

extern "C" char *strerror(int code) {
    switch (code) {
        case 0:
            return const_cast<char *>("ok");
#define KIVOS_ERROR_CASE(name, text) \
    case KIVOS_##name:               \
        return const_cast<char *>(text);
            KIVOS_ERRORS(KIVOS_ERROR_CASE)
#undef KIVOS_ERROR_CASE
        default:
            return const_cast<char *>(KIVOS_ERROR_TEXT);
    }
}
