// The call stack a stopped machine stands in, unwound through the image's
// call frame information (-g emits it) by libdwfl, which falls back on the
// frame pointers where a function has none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "emu/machine.h"

namespace kivos::debug {

struct Frame {
    uint32_t pc;
    // True for the frames above the first: `pc` is where a call returns to,
    // and the call itself is the instruction before it.
    bool return_address;
};

// At most `most` frames, innermost first: eip, then each return address.
std::vector<Frame> backtrace(const std::filesystem::path &image, const emu::Machine &machine,
                             size_t most);

}  // namespace kivos::debug
