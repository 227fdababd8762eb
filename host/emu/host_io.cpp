#include "emu/host_io.h"

#include <unistd.h>

#include <cerrno>

#include "emu/guest_error.h"

namespace kivos::emu {

int32_t read_host(int fd, uint32_t limit, std::string &out) {
    out.resize(limit);
    ssize_t n;
    do {
        n = ::read(fd, out.data(), limit);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return guest_error(errno);
    out.resize(static_cast<size_t>(n));
    return static_cast<int32_t>(n);
}

int32_t write_host(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return guest_error(errno);
        done += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace kivos::emu
