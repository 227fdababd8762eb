#include "emu/fault_injection.h"

#include <algorithm>

#include "emu/syscall_table.h"

namespace kivos::emu {

void FaultInjection::fail_nth(uint32_t number, uint64_t nth, int32_t result) {
    rules_.push_back({number, nth, result});
}

void FaultInjection::clear() {
    write_cap_.reset();
    read_cap_.reset();
    rules_.clear();
    calls_.clear();
}

uint32_t FaultInjection::write_limit(uint32_t count) const {
    return write_cap_ ? std::min(count, *write_cap_) : count;
}

uint32_t FaultInjection::read_limit(uint32_t count) const {
    return read_cap_ ? std::min(count, *read_cap_) : count;
}

std::optional<int32_t> FaultInjection::on_call(uint32_t number) {
    // However many numbers the guest tries, only kivos calls and those a rule names are counted.
    const bool named =
        std::ranges::any_of(rules_, [number](const Rule &rule) { return rule.number == number; });
    if (!named && find_syscall(number) == nullptr) return std::nullopt;
    const uint64_t nth = ++calls_[number];
    for (const Rule &rule : rules_)
        if (rule.number == number && rule.nth == nth) return rule.result;
    return std::nullopt;
}

}  // namespace kivos::emu
