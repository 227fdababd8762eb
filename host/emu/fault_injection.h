// Failures a test asks the kernel to make: short reads and writes, and chosen
// calls that fail with a chosen result without being carried out.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace kivos::emu {

class FaultInjection {
  public:
    // Each read or write completes at most `bytes` (at least 1 is sensible).
    void cap_write(uint32_t bytes) { write_cap_ = bytes; }
    void cap_read(uint32_t bytes) { read_cap_ = bytes; }
    // The nth call (1-based, counted over the whole run; for a number that is
    // no kivos call, from the first rule that names it) of call `number`
    // answers `result` instead of running.
    void fail_nth(uint32_t number, uint64_t nth, int32_t result);
    void clear();

    uint32_t write_limit(uint32_t count) const;
    uint32_t read_limit(uint32_t count) const;
    // Counts the call; the injected result when a rule names this one.
    std::optional<int32_t> on_call(uint32_t number);
    // Uncounts a call that must wait and will be made again.
    void retract(uint32_t number) { --calls_[number]; }

  private:
    struct Rule {
        uint32_t number;
        uint64_t nth;
        int32_t result;
    };
    std::optional<uint32_t> write_cap_;
    std::optional<uint32_t> read_cap_;
    std::vector<Rule> rules_;
    std::map<uint32_t, uint64_t> calls_;
};

}  // namespace kivos::emu
