// Calls on descriptors: the console on 0 and 1, files from 3 up.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <sys/stat.h>

#include "emu/kernel.h"

namespace kivos::emu {
namespace {

constexpr int32_t kConsoleIn = 0;
constexpr int32_t kConsoleOut = 1;
constexpr int32_t kLastConsole = 2;
// One call moves at most this much; callers loop like on any short transfer.
constexpr uint32_t kLargestTransfer = 1u << 20;

int32_t fd_of(const TrapFrame &frame) {
    return static_cast<int32_t>(frame.args[0]);
}

int32_t read_host(int fd, uint32_t limit, std::string &out) {
    out.resize(limit);
    ssize_t n;
    do {
        n = ::read(fd, out.data(), limit);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -errno;
    out.resize(static_cast<size_t>(n));
    return static_cast<int32_t>(n);
}

}  // namespace

int32_t Kernel::sys_write(const TrapFrame &frame, const GuestMemory &memory) {
    // Files are opened for reading only; whole files are written with writefile.
    if (fd_of(frame) != kConsoleOut) return -EBADF;
    const uint32_t count = std::min(faults_.write_limit(frame.args[2]), kLargestTransfer);
    std::string bytes;
    if (const int32_t error = memory.read(frame.args[1], count, bytes); error != 0) return error;
    return console_.write(bytes);
}

int32_t Kernel::sys_read(const TrapFrame &frame, const GuestMemory &memory) {
    const int32_t fd = fd_of(frame);
    const int host = descriptors_.host_fd(fd);
    if (fd != kConsoleIn && host < 0) return -EBADF;
    const uint32_t count = std::min(faults_.read_limit(frame.args[2]), kLargestTransfer);
    if (count == 0) return 0;
    // Check first so that a bad buffer does not swallow input.
    if (!memory.accessible(frame.args[1], count, UC_PROT_WRITE)) return -EFAULT;
    std::string bytes;
    const int32_t n = fd == kConsoleIn ? input_.read(count, bytes) : read_host(host, count, bytes);
    if (n <= 0) return n;
    if (const int32_t error = memory.write(frame.args[1], bytes); error != 0) return error;
    return n;
}

int32_t Kernel::sys_open(const TrapFrame &frame, const GuestMemory &memory) {
    std::string path;
    if (const int32_t error = memory.read_string(frame.args[0], PATH_MAX - 1, path); error != 0)
        return error;
    Opened opened = sandbox_.open_file(path, frame.args[1]);
    if (opened.error != 0) return opened.error;
    return descriptors_.add(std::move(opened.fd));
}

int32_t Kernel::sys_close(const TrapFrame &frame, const GuestMemory &) {
    return descriptors_.remove(fd_of(frame));
}

// The console descriptors cannot seek (-29); offsets are 32-bit signed, so a
// result past 2 GiB is -75 and a negative one -22.
int32_t Kernel::sys_lseek(const TrapFrame &frame, const GuestMemory &) {
    const int32_t fd = fd_of(frame);
    if (fd >= 0 && fd <= kLastConsole) return -ESPIPE;
    const int host = descriptors_.host_fd(fd);
    if (host < 0) return -EBADF;
    const auto offset = static_cast<int32_t>(frame.args[1]);
    int64_t base = 0;
    switch (static_cast<int32_t>(frame.args[2])) {
        case SEEK_SET:
            break;
        case SEEK_CUR:
            base = ::lseek(host, 0, SEEK_CUR);
            break;
        case SEEK_END: {
            struct stat status {};
            base = ::fstat(host, &status) == 0 ? status.st_size : -1;
            break;
        }
        default:
            return -EINVAL;
    }
    if (base < 0) return -errno;
    const int64_t target = base + offset;
    if (target < 0) return -EINVAL;
    if (target > INT32_MAX) return -EOVERFLOW;
    if (::lseek(host, target, SEEK_SET) < 0) return -errno;
    return static_cast<int32_t>(target);
}

}  // namespace kivos::emu
