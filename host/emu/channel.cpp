#include "emu/channel.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kivos::emu {

int32_t Channel::read(uint32_t, std::string &) {
    return -EBADF;
}

int32_t Channel::write(std::string_view) {
    return -EBADF;
}

int32_t Channel::seek(int32_t, int32_t) {
    return -ESPIPE;
}

int32_t ConsoleReader::read(uint32_t limit, std::string &out) {
    return input_.read(limit, out);
}

int32_t ConsoleWriter::write(std::string_view bytes) {
    return output_.write(bytes);
}

int32_t FileChannel::read(uint32_t limit, std::string &out) {
    if (!readable_) return -EBADF;
    out.resize(limit);
    ssize_t n;
    do {
        n = ::read(fd_.get(), out.data(), limit);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -errno;
    out.resize(static_cast<size_t>(n));
    return static_cast<int32_t>(n);
}

int32_t FileChannel::write(std::string_view bytes) {
    if (!writable_) return -EBADF;
    ssize_t n;
    do {
        n = ::write(fd_.get(), bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -errno;
    return static_cast<int32_t>(n);
}

// Offsets are 32-bit signed: a result past 2 GiB is -75 and a negative one -22.
int32_t FileChannel::seek(int32_t offset, int32_t whence) {
    int64_t base = 0;
    switch (whence) {
        case SEEK_SET:
            break;
        case SEEK_CUR:
            base = ::lseek(fd_.get(), 0, SEEK_CUR);
            break;
        case SEEK_END: {
            struct stat status {};
            base = ::fstat(fd_.get(), &status) == 0 ? status.st_size : -1;
            break;
        }
        default:
            return -EINVAL;
    }
    if (base < 0) return -errno;
    const int64_t target = base + offset;
    if (target < 0) return -EINVAL;
    if (target > INT32_MAX) return -EOVERFLOW;
    if (::lseek(fd_.get(), target, SEEK_SET) < 0) return -errno;
    return static_cast<int32_t>(target);
}

}  // namespace kivos::emu
