// The guest's open files. Descriptors 0..2 belong to the console and are
// never handed out; files get the lowest free number from 3 up.
#pragma once

#include <cstdint>
#include <map>

#include "emu/owned_fd.h"

namespace kivos::emu {

class DescriptorTable {
  public:
    // The new descriptor, or -24 when too many are open.
    int32_t add(OwnedFd file);
    // The host descriptor behind `fd`, or -1.
    int host_fd(int32_t fd) const;
    // 0, or -9 when `fd` is not an open file.
    int32_t remove(int32_t fd);

  private:
    std::map<int32_t, OwnedFd> files_;
};

}  // namespace kivos::emu
