// Calls on descriptors: the console's below the first file, files from there up.
#include <kivos/abi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "emu/guest_error.h"
#include "emu/host_io.h"
#include "emu/kernel.h"

namespace kivos::emu {
namespace {

// One call moves at most this much; callers loop like on any short transfer.
constexpr uint32_t kLargestTransfer = 1u << 20;

int32_t fd_of(const TrapFrame &frame) {
    return static_cast<int32_t>(frame.args[0]);
}

}  // namespace

int32_t Kernel::sys_write(const TrapFrame &frame, const GuestMemory &memory) {
    // Files are opened for reading only; whole files are written with writefile.
    if (fd_of(frame) != KIVOS_CONSOLE_OUT_FD) return -KIVOS_EBADF;
    const uint32_t count = std::min(faults_.write_limit(frame.args[2]), kLargestTransfer);
    std::string bytes;
    if (const int32_t error = memory.read(frame.args[1], count, bytes); error != 0) return error;
    return console_.write(bytes);
}

int32_t Kernel::sys_read(const TrapFrame &frame, const GuestMemory &memory) {
    const int32_t fd = fd_of(frame);
    const int host = descriptors_.host_fd(fd);
    if (fd != KIVOS_CONSOLE_IN_FD && host < 0) return -KIVOS_EBADF;
    const uint32_t count = std::min(faults_.read_limit(frame.args[2]), kLargestTransfer);
    if (count == 0) return 0;
    // Check first so that a bad buffer does not swallow input.
    if (!memory.accessible(frame.args[1], count, UC_PROT_WRITE)) return -KIVOS_EFAULT;
    std::string bytes;
    const int32_t n =
        fd == KIVOS_CONSOLE_IN_FD ? input_.read(count, bytes) : read_host(host, count, bytes);
    if (n <= 0) return n;
    if (const int32_t error = memory.write(frame.args[1], bytes); error != 0) return error;
    return n;
}

int32_t Kernel::sys_open(const TrapFrame &frame, const GuestMemory &memory) {
    std::string path;
    if (const int32_t error = read_path(memory, frame.args[0], path); error != 0) return error;
    Opened opened = sandbox_.open_file(path, frame.args[1]);
    if (opened.error != 0) return opened.error;
    return descriptors_.add(std::move(opened.fd));
}

int32_t Kernel::sys_close(const TrapFrame &frame, const GuestMemory &) {
    return descriptors_.remove(fd_of(frame));
}

// The console descriptors cannot seek; offsets are 32-bit signed, so a result
// past 2 GiB overflows and a negative one is invalid.
int32_t Kernel::sys_lseek(const TrapFrame &frame, const GuestMemory &) {
    const int32_t fd = fd_of(frame);
    if (fd >= 0 && fd < KIVOS_FIRST_FILE_FD) return -KIVOS_ESPIPE;
    const int host = descriptors_.host_fd(fd);
    if (host < 0) return -KIVOS_EBADF;
    const auto offset = static_cast<int32_t>(frame.args[1]);
    int64_t base = 0;
    switch (static_cast<int32_t>(frame.args[2])) {
        case KIVOS_SEEK_SET:
            break;
        case KIVOS_SEEK_CUR:
            base = ::lseek(host, 0, SEEK_CUR);
            break;
        case KIVOS_SEEK_END: {
            struct stat status {};
            base = ::fstat(host, &status) == 0 ? status.st_size : -1;
            break;
        }
        default:
            return -KIVOS_EINVAL;
    }
    if (base < 0) return guest_error(errno);
    const int64_t target = base + offset;
    if (target < 0) return -KIVOS_EINVAL;
    if (target > INT32_MAX) return -KIVOS_EOVERFLOW;
    if (::lseek(host, target, SEEK_SET) < 0) return guest_error(errno);
    return static_cast<int32_t>(target);
}

}  // namespace kivos::emu
