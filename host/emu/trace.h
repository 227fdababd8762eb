// The record of every trap a guest made, in order, and how often each call was made.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "emu/call_counts.h"

namespace kivos::emu {

struct TrapRecord {
    uint32_t pid;  // the process that trapped
    uint32_t number;
    std::string name;
    std::array<uint32_t, 6> args;  // ebx, ecx, edx, esi, edi, ebp
    int32_t result;
    // False for _exit, whose line shows no result.
    bool returned;
    // strace-like: `write(1, 0x405010, 29) = 29`.
    std::string line;
};

class Trace {
  public:
    // Keeping every record is what tests want; a long run under the tool only counts.
    void keep_records(bool keep) { keep_ = keep; }
    // Called for each trap as it completes.
    void on_record(std::function<void(const TrapRecord &)> listener) {
        listener_ = std::move(listener);
    }
    // Only a record that is kept or shown is worth its name and line.
    bool wants_records() const { return keep_ || listener_; }

    // Counts one trap of `call` (nullptr: a number that is no kivos call).
    void count(const SyscallInfo *call) { counts_.count(call); }
    void add(TrapRecord record);
    void clear();

    const std::vector<TrapRecord> &records() const { return records_; }
    const CallCounts &counts() const { return counts_; }

  private:
    bool keep_ = true;
    std::function<void(const TrapRecord &)> listener_;
    std::vector<TrapRecord> records_;
    CallCounts counts_;
};

}  // namespace kivos::emu
