// The guest's open files. The console's descriptors are never handed out;
// files get the lowest free number from the first file descriptor up.
#pragma once

#include <cstdint>
#include <map>

#include "emu/owned_fd.h"

namespace kivos::emu {

class DescriptorTable {
  public:
    // The new descriptor, or -EMFILE when too many are open.
    int32_t add(OwnedFd file);
    // The host descriptor behind `fd`, or -1.
    int host_fd(int32_t fd) const;
    // 0, or -EBADF when `fd` is not an open file.
    int32_t remove(int32_t fd);

  private:
    std::map<int32_t, OwnedFd> files_;
};

}  // namespace kivos::emu
