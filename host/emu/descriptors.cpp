#include "emu/descriptors.h"

#include <kivos/abi.h>

namespace kivos::emu {

int32_t DescriptorTable::add(Entry entry) {
    int32_t fd = KIVOS_FIRST_FILE_FD;
    while (entries_.contains(fd)) ++fd;
    if (fd >= kSize) return -KIVOS_EMFILE;
    entries_.emplace(fd, std::move(entry));
    return fd;
}

int32_t DescriptorTable::place(int32_t fd, Entry entry) {
    if (fd < 0 || fd >= kSize) return -KIVOS_EBADF;
    entries_[fd] = std::move(entry);
    return fd;
}

DescriptorTable::Entry *DescriptorTable::find(int32_t fd) {
    const auto found = entries_.find(fd);
    return found == entries_.end() ? nullptr : &found->second;
}

int32_t DescriptorTable::remove(int32_t fd) {
    return entries_.erase(fd) == 1 ? 0 : -KIVOS_EBADF;
}

}  // namespace kivos::emu
