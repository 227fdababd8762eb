// The probe guest (tests/emu/probe) for the machine's own tests.
#pragma once

#include <cstdint>
#include <vector>

#include "harness/guest.h"

namespace kivos::test {

inline GuestOptions probe_options() {
    GuestOptions options;
    options.image = KIVOS_PROBE_IMAGE;
    return options;
}

// Any kivos call with any registers, through the probe's raw trap.
inline int32_t sys(Guest &g, uint32_t number, std::vector<uint32_t> registers = {}) {
    registers.resize(6);
    registers.insert(registers.begin(), number);
    return static_cast<int32_t>(g.call("trap", registers));
}

}  // namespace kivos::test
