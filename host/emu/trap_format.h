// One trap as a trace line, strace style.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "emu/guest_memory.h"

namespace kivos::emu {

// `kinds` spells each argument (see SyscallInfo); strings are read from the
// guest, escaped and shortened. No result means the call did not return.
std::string format_trap(std::string_view name, std::string_view kinds,
                        const std::array<uint32_t, 6> &args, std::optional<int32_t> result,
                        const GuestMemory &memory);

}  // namespace kivos::emu
