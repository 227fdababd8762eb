// A process's descriptors: each number names a channel, shared with the
// descriptors duplicated from it. open, pipe and dup take the lowest free
// number from the first file descriptor up; the console's numbers below it
// are given only at spawn and by dup2.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "emu/channel.h"

namespace kivos::emu {

class DescriptorTable {
  public:
    // Descriptors are numbered 0 to kSize - 1.
    static constexpr int32_t kSize = 64;

    struct Entry {
        std::shared_ptr<Channel> channel;
        // Answer "would block" instead of waiting; dup and spawn copy it.
        bool nonblocking = false;
    };

    // The new descriptor, or -EMFILE when every number is taken.
    int32_t add(Entry entry);
    // Puts `entry` at `fd`, closing what was there: `fd`, or -EBADF out of range.
    int32_t place(int32_t fd, Entry entry);
    // The entry of an open descriptor, or nullptr.
    Entry *find(int32_t fd);
    // 0, or -EBADF when `fd` is not open.
    int32_t remove(int32_t fd);

    const std::map<int32_t, Entry> &entries() const { return entries_; }

  private:
    std::map<int32_t, Entry> entries_;
};

}  // namespace kivos::emu
