// Pipes, named pipes and copies of descriptors.
#include <kivos/abi.h>

#include <cstring>
#include <filesystem>

#include "emu/kernel.h"
#include "emu/process.h"

namespace kivos::emu {
namespace {

int32_t fd_of(const TrapFrame &frame) {
    return static_cast<int32_t>(frame.args[0]);
}

}  // namespace

std::string Kernel::pipe_name(const std::string &path, const Process &process) const {
    std::string name =
        std::filesystem::path(process.sandbox().absolute(path)).lexically_normal().string();
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    return name;
}

std::shared_ptr<Pipe> Kernel::named_pipe(const std::string &path, const Process &process) const {
    const auto found = named_pipes_.find(pipe_name(path, process));
    return found == named_pipes_.end() ? nullptr : found->second;
}

// Fills fds[0] with the read end and fds[1] with the write end.
int32_t Kernel::sys_pipe(const TrapFrame &frame, Process &process) {
    const uint32_t fds = frame.args[0];
    if (!process.memory().accessible(fds, 8, UC_PROT_WRITE)) return -KIVOS_EFAULT;
    auto [reader, writer] = make_pipe(changes_);
    DescriptorTable &table = process.descriptors();
    const int32_t read_end = table.add({std::move(reader)});
    if (read_end < 0) return read_end;
    const int32_t write_end = table.add({std::move(writer)});
    if (write_end < 0) {
        table.remove(read_end);
        return write_end;
    }
    const int32_t ends[2] = {read_end, write_end};
    std::string bytes(sizeof ends, '\0');
    std::memcpy(bytes.data(), ends, sizeof ends);
    return process.memory().write(fds, bytes);
}

int32_t Kernel::sys_mkfifo(const TrapFrame &frame, Process &process) {
    std::string path;
    if (const int32_t error = read_path(process.memory(), frame.args[0], path); error != 0)
        return error;
    std::string name = pipe_name(path, process);
    if (named_pipes_.contains(name)) return -KIVOS_EEXIST;
    if (named_pipes_.size() == kMostNamedPipes) return -KIVOS_ENFILE;
    if (const int32_t error = process.sandbox().check_leaf(path, false); error != 0) return error;
    named_pipes_.emplace(std::move(name), std::make_shared<Pipe>(changes_));
    return 0;
}

int32_t Kernel::sys_dup(const TrapFrame &frame, Process &process) {
    const DescriptorTable::Entry *entry = process.descriptors().find(fd_of(frame));
    if (entry == nullptr) return -KIVOS_EBADF;
    return process.descriptors().add(*entry);
}

int32_t Kernel::sys_dup2(const TrapFrame &frame, Process &process) {
    const DescriptorTable::Entry *entry = process.descriptors().find(fd_of(frame));
    if (entry == nullptr) return -KIVOS_EBADF;
    const auto target = static_cast<int32_t>(frame.args[1]);
    if (target == fd_of(frame)) return target;
    return process.descriptors().place(target, DescriptorTable::Entry(*entry));
}

int32_t Kernel::sys_fd_set_nonblock(const TrapFrame &frame, Process &process) {
    DescriptorTable::Entry *entry = process.descriptors().find(fd_of(frame));
    if (entry == nullptr) return -KIVOS_EBADF;
    entry->nonblocking = frame.args[1] != 0;
    return 0;
}

}  // namespace kivos::emu
