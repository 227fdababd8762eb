#include "emu/descriptors.h"

#include <kivos/abi.h>

namespace kivos::emu {
namespace {

constexpr int32_t kMostOpen = 256;

}  // namespace

int32_t DescriptorTable::add(OwnedFd file) {
    int32_t fd = KIVOS_FIRST_FILE_FD;
    while (files_.contains(fd)) ++fd;
    if (fd >= KIVOS_FIRST_FILE_FD + kMostOpen) return -KIVOS_EMFILE;
    files_.emplace(fd, std::move(file));
    return fd;
}

int DescriptorTable::host_fd(int32_t fd) const {
    const auto found = files_.find(fd);
    return found == files_.end() ? -1 : found->second.get();
}

int32_t DescriptorTable::remove(int32_t fd) {
    return files_.erase(fd) == 1 ? 0 : -KIVOS_EBADF;
}

}  // namespace kivos::emu
