// Host errors as the guest sees them. The guest's error numbers are the kivos
// ones; this is the only place a host error number turns into one of them.
#pragma once

#include <cstdint>

namespace kivos::emu {

// The negated kivos error of the same meaning as `host_error` (an errno value
// of the host); an error kivos has no name for reads as an input/output error.
int32_t guest_error(int host_error);

}  // namespace kivos::emu
