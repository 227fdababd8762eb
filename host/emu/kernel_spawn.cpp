// Starting children and waiting for them; kivos/abi.h says what the spawn
// block's words and waitpid's status mean.
#include <kivos/abi.h>

#include <cstring>

#include "emu/errors.h"
#include "emu/host_io.h"
#include "emu/kernel.h"
#include "emu/process.h"
#include "emu/scheduler.h"

namespace kivos::emu {
namespace {

constexpr int32_t kMostArguments = 1024;
// The strings of argv together, NULs included.
constexpr uint32_t kMostArgumentBytes = 64u << 10;
constexpr uint64_t kLargestImage = 64u << 20;

uint32_t word_at(const std::string &bytes, uint32_t index) {
    uint32_t word = 0;
    std::memcpy(&word, bytes.data() + 4 * index, 4);
    return word;
}

int32_t read_arguments(const GuestMemory &memory, uint32_t argv, int32_t argc,
                       std::vector<std::string> &out) {
    if (argc > kMostArguments) return -KIVOS_E2BIG;
    std::string pointers;
    if (const int32_t error = memory.read(argv, 4 * static_cast<uint32_t>(argc), pointers);
        error != 0)
        return error;
    uint32_t total = 0;
    for (int32_t i = 0; i < argc; ++i) {
        std::string argument;
        const int32_t error = memory.read_string(word_at(pointers, static_cast<uint32_t>(i)),
                                                 kMostArgumentBytes, argument);
        if (error == -KIVOS_ENAMETOOLONG) return -KIVOS_E2BIG;
        if (error != 0) return error;
        total += static_cast<uint32_t>(argument.size()) + 1;
        if (total > kMostArgumentBytes) return -KIVOS_E2BIG;
        out.push_back(std::move(argument));
    }
    return 0;
}

// The whole file, or a negated kivos error number (ENOEXEC when too large for an image).
int32_t read_image(int fd, std::vector<uint8_t> &out) {
    std::string chunk;
    for (;;) {
        const int32_t n = read_host(fd, 1u << 16, chunk);
        if (n <= 0) return n;
        if (out.size() + chunk.size() > kLargestImage) return -KIVOS_ENOEXEC;
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
}

int32_t child_descriptors(Process &parent, const ChildDescriptors &choice, DescriptorTable &child) {
    if (choice.inherit)
        for (const auto &[fd, entry] : parent.descriptors().entries())
            if (fd >= KIVOS_FIRST_FILE_FD) child.place(fd, entry);
    for (size_t fd = 0; fd < choice.stdio.size(); ++fd) {
        const int32_t source = choice.stdio[fd];
        if (source < 0) continue;
        const DescriptorTable::Entry *entry = parent.descriptors().find(source);
        if (entry == nullptr) return -KIVOS_EBADF;
        child.place(static_cast<int32_t>(fd), *entry);
    }
    return 0;
}

}  // namespace

struct Kernel::SpawnRequest {
    uint32_t path;
    uint32_t argv;
    int32_t argc;
    ChildDescriptors descriptors;
};

// The caller's fd_set_stdio choices, a descriptor it has closed since leaving its number closed.
ChildDescriptors Kernel::spawn_defaults(Process &process) {
    ChildDescriptors choice = process.spawn_defaults();
    for (int32_t &fd : choice.stdio)
        if (fd >= 0 && process.descriptors().find(fd) == nullptr) fd = -1;
    return choice;
}

int32_t Kernel::sys_spawn(const TrapFrame &frame, Process &process) {
    return spawn({frame.args[0], frame.args[1], static_cast<int32_t>(frame.args[2]),
                  spawn_defaults(process)},
                 process);
}

// ebx holds the spawn block: path, argv, argc, in, out, err, inherit.
int32_t Kernel::sys_spawn_ex(const TrapFrame &frame, Process &process) {
    std::string block;
    if (const int32_t error = process.memory().read(frame.args[0], 4 * KIVOS_SPAWN_WORDS, block);
        error != 0)
        return error;
    ChildDescriptors descriptors = spawn_defaults(process);
    for (uint32_t i = 0; i < descriptors.stdio.size(); ++i)
        if (const auto fd = static_cast<int32_t>(word_at(block, KIVOS_SPAWN_STDIN + i)); fd >= 0)
            descriptors.stdio[i] = fd;
    descriptors.inherit = word_at(block, KIVOS_SPAWN_INHERIT) != 0;
    return spawn({word_at(block, KIVOS_SPAWN_PATH), word_at(block, KIVOS_SPAWN_ARGV),
                  static_cast<int32_t>(word_at(block, KIVOS_SPAWN_ARGC)), descriptors},
                 process);
}

int32_t Kernel::spawn(const SpawnRequest &request, Process &process) {
    if (scheduler_ == nullptr) return -KIVOS_ENOSYS;
    if (request.argc < 0) return -KIVOS_EINVAL;
    std::string path;
    if (const int32_t error = read_path(process.memory(), request.path, path); error != 0)
        return error;
    std::vector<std::string> argv;
    if (const int32_t error = read_arguments(process.memory(), request.argv, request.argc, argv);
        error != 0)
        return error;
    DescriptorTable descriptors;
    if (const int32_t error = child_descriptors(process, request.descriptors, descriptors);
        error != 0)
        return error;
    Opened file = process.sandbox().open_file(path, KIVOS_O_RDONLY);
    if (file.error != 0) return file.error;
    std::vector<uint8_t> bytes;
    if (const int32_t error = read_image(file.fd.get(), bytes); error != 0) return error;
    try {
        const ElfImage image{ElfFile(std::move(bytes))};
        return scheduler_->spawn(process, image, argv, process.sandbox(), std::move(descriptors));
    } catch (const ImageError &) {
        return -KIVOS_ENOEXEC;
    } catch (const MachineError &) {
        return -KIVOS_ENOMEM;
    }
}

int32_t Kernel::sys_waitpid(const TrapFrame &frame, Process &process) {
    const auto pid = static_cast<int32_t>(frame.args[0]);
    const uint32_t status = frame.args[1];
    const uint32_t options = frame.args[2];
    if ((options & ~KIVOS_WAIT_NOHANG) != 0 || pid == 0 || pid < -1) return -KIVOS_EINVAL;
    if (scheduler_ == nullptr) return -KIVOS_ECHILD;
    const Scheduler::Ended ended = scheduler_->ended_child(process.pid(), pid);
    if (ended.pid == 0) return (options & KIVOS_WAIT_NOHANG) != 0 ? 0 : kWouldBlock;
    if (ended.pid < 0) return ended.pid;
    if (status != 0) {
        std::string bytes(4, '\0');
        std::memcpy(bytes.data(), &ended.status, 4);
        if (const int32_t error = process.memory().write(status, bytes); error != 0) return error;
    }
    scheduler_->reap(static_cast<uint32_t>(ended.pid));
    return ended.pid;
}

int32_t Kernel::sys_fd_set_stdio(const TrapFrame &frame, Process &process) {
    ChildDescriptors &defaults = process.spawn_defaults();
    for (size_t i = 0; i < defaults.stdio.size(); ++i) {
        const auto fd = static_cast<int32_t>(frame.args[i]);
        if (fd >= 0 && process.descriptors().find(fd) == nullptr) return -KIVOS_EBADF;
    }
    for (size_t i = 0; i < defaults.stdio.size(); ++i)
        defaults.stdio[i] = static_cast<int32_t>(frame.args[i]);
    return 0;
}

int32_t Kernel::sys_fd_set_inherit(const TrapFrame &frame, Process &process) {
    process.spawn_defaults().inherit = frame.args[0] != 0;
    return 0;
}

}  // namespace kivos::emu
