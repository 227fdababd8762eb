// The record of every trap a guest made, in order.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

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

    void add(TrapRecord record);
    void clear();

    const std::vector<TrapRecord> &records() const { return records_; }
    uint64_t total() const { return total_; }
    const std::map<std::string, uint64_t> &counts() const { return counts_; }

  private:
    bool keep_ = true;
    std::function<void(const TrapRecord &)> listener_;
    std::vector<TrapRecord> records_;
    uint64_t total_ = 0;
    std::map<std::string, uint64_t> counts_;
};

}  // namespace kivos::emu
