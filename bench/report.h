// One benchmark line: what a library call costs in instructions on the kivos machine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "harness/guest.h"

namespace kivos::bench {

inline test::GuestOptions counting() {
    test::GuestOptions options;
    options.count_instructions = true;
    return options;
}

inline void report(test::Guest &g, const char *label, const char *function,
                   std::vector<uint32_t> args) {
    g.call(function, std::move(args));
    std::printf("%s: %llu instructions\n", label,
                static_cast<unsigned long long>(g.instructions()));
}

}  // namespace kivos::bench
