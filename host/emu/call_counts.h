// How often each kivos call was made, in memory that does not grow however
// many call numbers a guest tries.
#pragma once

#include <cstdint>
#include <vector>

#include "emu/syscall_table.h"

namespace kivos::emu {

class CallCounts {
  public:
    // Counts one trap of `call` (nullptr: a number that is no kivos call).
    void count(const SyscallInfo *call);
    void clear();

    uint64_t total() const { return total_; }
    uint64_t calls_of(const SyscallInfo &call) const;
    // Traps whose number is no kivos call, all numbers together.
    uint64_t unknown_calls() const { return unknown_calls_; }

  private:
    uint64_t total_ = 0;
    std::vector<uint64_t> calls_ = std::vector<uint64_t>(syscalls().size());
    uint64_t unknown_calls_ = 0;
};

}  // namespace kivos::emu
