#include "emu/trace.h"

namespace kivos::emu {

void Trace::add(TrapRecord record) {
    if (listener_) listener_(record);
    if (keep_) records_.push_back(std::move(record));
}

void Trace::clear() {
    records_.clear();
    counts_.clear();
}

}  // namespace kivos::emu
