#include "emu/call_counts.h"

#include <algorithm>

namespace kivos::emu {
namespace {

size_t index_of(const SyscallInfo &call) {
    return static_cast<size_t>(&call - syscalls().data());
}

}  // namespace

void CallCounts::count(const SyscallInfo *call) {
    ++total_;
    if (call != nullptr)
        ++calls_[index_of(*call)];
    else
        ++unknown_calls_;
}

void CallCounts::clear() {
    total_ = 0;
    std::ranges::fill(calls_, 0);
    unknown_calls_ = 0;
}

uint64_t CallCounts::calls_of(const SyscallInfo &call) const {
    return calls_[index_of(call)];
}

}  // namespace kivos::emu
