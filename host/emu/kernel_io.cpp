// Reading, writing, opening, closing and seeking, whatever channel a
// descriptor names: the console, a file or a pipe.
#include <kivos/abi.h>

#include <algorithm>

#include "emu/kernel.h"
#include "emu/process.h"

namespace kivos::emu {
namespace {

// One call moves at most this much; callers loop like on any short transfer.
constexpr uint32_t kLargestTransfer = 1u << 20;

int32_t fd_of(const TrapFrame &frame) {
    return static_cast<int32_t>(frame.args[0]);
}

// A transfer that must wait answers "would block" on a non-blocking descriptor.
int32_t unless_nonblocking(int32_t result, const DescriptorTable::Entry &entry) {
    return result == kWouldBlock && entry.nonblocking ? -KIVOS_EAGAIN : result;
}

}  // namespace

int32_t Kernel::sys_write(const TrapFrame &frame, Process &process) {
    const DescriptorTable::Entry *entry = process.descriptors().find(fd_of(frame));
    if (entry == nullptr) return -KIVOS_EBADF;
    const uint32_t count = std::min(faults_.write_limit(frame.args[2]), kLargestTransfer);
    std::string bytes;
    if (const int32_t error = process.memory().read(frame.args[1], count, bytes); error != 0)
        return error;
    return unless_nonblocking(entry->channel->write(bytes), *entry);
}

int32_t Kernel::sys_read(const TrapFrame &frame, Process &process) {
    const DescriptorTable::Entry *entry = process.descriptors().find(fd_of(frame));
    if (entry == nullptr) return -KIVOS_EBADF;
    const uint32_t count = std::min(faults_.read_limit(frame.args[2]), kLargestTransfer);
    if (count == 0) return 0;
    // Check first so that a bad buffer does not swallow input.
    if (!process.memory().accessible(frame.args[1], count, UC_PROT_WRITE)) return -KIVOS_EFAULT;
    std::string bytes;
    const int32_t n = unless_nonblocking(entry->channel->read(count, bytes), *entry);
    if (n <= 0) return n;
    if (const int32_t error = process.memory().write(frame.args[1], bytes); error != 0)
        return error;
    return n;
}

int32_t Kernel::sys_open(const TrapFrame &frame, Process &process) {
    std::string path;
    if (const int32_t error = read_path(process.memory(), frame.args[0], path); error != 0)
        return error;
    const uint32_t flags = frame.args[1];
    if (const std::shared_ptr<Pipe> pipe = named_pipe(path, process)) {
        // A named pipe is read or written, not both.
        const uint32_t access = flags & KIVOS_O_ACCMODE;
        if (access != KIVOS_O_RDONLY && access != KIVOS_O_WRONLY) return -KIVOS_EINVAL;
        return process.descriptors().add(
            {access == KIVOS_O_RDONLY ? pipe->open_reader(pipe) : pipe->open_writer(pipe)});
    }
    Opened opened = process.sandbox().open_file(path, flags);
    if (opened.error != 0) return opened.error;
    const uint32_t access = flags & KIVOS_O_ACCMODE;
    return process.descriptors().add({std::make_shared<FileChannel>(
        std::move(opened.fd), access != KIVOS_O_WRONLY, access != KIVOS_O_RDONLY)});
}

int32_t Kernel::sys_close(const TrapFrame &frame, Process &process) {
    return process.descriptors().remove(fd_of(frame));
}

int32_t Kernel::sys_lseek(const TrapFrame &frame, Process &process) {
    const DescriptorTable::Entry *entry = process.descriptors().find(fd_of(frame));
    if (entry == nullptr) return -KIVOS_EBADF;
    return entry->channel->seek(static_cast<int32_t>(frame.args[1]),
                                static_cast<int32_t>(frame.args[2]));
}

}  // namespace kivos::emu
