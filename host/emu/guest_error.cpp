#include "emu/guest_error.h"

#include <kivos/abi.h>

#include <cerrno>

namespace kivos::emu {

int32_t guest_error(int host_error) {
    switch (host_error) {
#define KIVOS_FROM_HOST(name, text) \
    case name:                      \
        return -KIVOS_##name;
        KIVOS_ERRORS(KIVOS_FROM_HOST)
#undef KIVOS_FROM_HOST
        default:
            return -KIVOS_EIO;
    }
}

}  // namespace kivos::emu
