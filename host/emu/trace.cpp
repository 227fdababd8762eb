#include "emu/trace.h"

#include <algorithm>

namespace kivos::emu {
namespace {

size_t index_of(const SyscallInfo &call) {
    return static_cast<size_t>(&call - syscalls().data());
}

}  // namespace

void Trace::count(const SyscallInfo *call) {
    ++total_;
    if (call != nullptr)
        ++calls_[index_of(*call)];
    else
        ++unknown_calls_;
}

void Trace::add(TrapRecord record) {
    if (listener_) listener_(record);
    if (keep_) records_.push_back(std::move(record));
}

void Trace::clear() {
    records_.clear();
    total_ = 0;
    std::ranges::fill(calls_, 0);
    unknown_calls_ = 0;
}

uint64_t Trace::calls_of(const SyscallInfo &call) const {
    return calls_[index_of(call)];
}

}  // namespace kivos::emu
