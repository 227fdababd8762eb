#include "library.h"

#include <cstdio>
#include <cstdlib>

namespace kivos::fuzz {

Library::Library() {
    for (int i = 0; i < kRegions; ++i)
        region_ends_.push_back(guest_.place_at_edge(std::string(kRegionSize, '\0')) + kRegionSize);
}

uint32_t Library::at_edge(int region, std::string_view bytes) {
    require(bytes.size() <= kRegionSize, "a case larger than its region");
    const uint32_t address = region_ends_.at(region) - static_cast<uint32_t>(bytes.size());
    guest_.write(address, bytes);
    return address;
}

template <typename Call>
auto Library::guarded(std::string_view function, Call call) {
    try {
        return call();
    } catch (const test::GuestFault &fault) {
        require(false, std::string(function) + ": " + fault.what());
        throw;
    }
}

uint32_t Library::call(std::string_view function, const std::vector<uint32_t> &args) {
    return guarded(function, [&] { return guest_.call(function, args); });
}

long double Library::call_x87(std::string_view function, const std::vector<uint32_t> &args) {
    return guarded(function, [&] { return guest_.call_x87(function, args); });
}

Library &library() {
    static Library instance;
    return instance;
}

void require(bool holds, const std::string &what) {
    if (holds) return;
    std::fprintf(stderr, "property failed: %s\n", what.c_str());
    std::abort();
}

}  // namespace kivos::fuzz
