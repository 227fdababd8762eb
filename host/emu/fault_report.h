// The one-line reports of guest faults, e.g.
// "guest fault: write to unmapped address 0x00000010 at eip 0x004010a3".
#pragma once

#include <cstdint>
#include <string>

#include "emu/run_result.h"

namespace kivos::emu::fault_report {

std::string describe(const Fault &fault);
std::string limit(uint64_t instructions);

}  // namespace kivos::emu::fault_report
