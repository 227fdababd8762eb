#include "emu/channel.h"

#include <kivos/abi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "emu/guest_error.h"
#include "emu/host_io.h"

namespace kivos::emu {

int32_t Channel::read(uint32_t, std::string &) {
    return -KIVOS_EBADF;
}

int32_t Channel::write(std::string_view) {
    return -KIVOS_EBADF;
}

int32_t Channel::seek(int32_t, int32_t) {
    return -KIVOS_ESPIPE;
}

int32_t ConsoleReader::read(uint32_t limit, std::string &out) {
    return input_.read(limit, out);
}

int32_t ConsoleWriter::write(std::string_view bytes) {
    return output_.write(bytes);
}

int32_t FileChannel::read(uint32_t limit, std::string &out) {
    if (!readable_) return -KIVOS_EBADF;
    return read_host(fd_.get(), limit, out);
}

int32_t FileChannel::write(std::string_view bytes) {
    if (!writable_) return -KIVOS_EBADF;
    if (const int32_t error = write_host(fd_.get(), bytes); error != 0) return error;
    return static_cast<int32_t>(bytes.size());
}

// Offsets are 32-bit signed, so a result past 2 GiB overflows and a negative one is invalid.
int32_t FileChannel::seek(int32_t offset, int32_t whence) {
    int64_t base = 0;
    switch (whence) {
        case KIVOS_SEEK_SET:
            break;
        case KIVOS_SEEK_CUR:
            base = ::lseek(fd_.get(), 0, SEEK_CUR);
            break;
        case KIVOS_SEEK_END: {
            struct stat status {};
            base = ::fstat(fd_.get(), &status) == 0 ? status.st_size : -1;
            break;
        }
        default:
            return -KIVOS_EINVAL;
    }
    if (base < 0) return guest_error(errno);
    const int64_t target = base + offset;
    if (target < 0) return -KIVOS_EINVAL;
    if (target > INT32_MAX) return -KIVOS_EOVERFLOW;
    if (::lseek(fd_.get(), target, SEEK_SET) < 0) return guest_error(errno);
    return static_cast<int32_t>(target);
}

}  // namespace kivos::emu
