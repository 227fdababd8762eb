// The test image inside one machine for a whole fuzzing run. Each case places its strings and
// buffers so that they end where an unmapped page begins, so a read or store past one faults;
// a fault, or a property that does not hold, ends the run with a report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "harness/guest.h"

namespace kivos::fuzz {

class Library {
  public:
    static constexpr int kRegions = 12;
    static constexpr uint32_t kRegionSize = 1u << 16;

    Library();
    // `bytes` end at the guard page of `region`; their address.
    uint32_t at_edge(int region, std::string_view bytes);
    uint32_t call(std::string_view function, const std::vector<uint32_t> &args);
    long double call_x87(std::string_view function, const std::vector<uint32_t> &args);
    std::string read(uint32_t address, size_t size) const { return guest_.read(address, size); }
    test::Guest &guest() { return guest_; }

  private:
    template <typename Call>
    auto guarded(std::string_view function, Call call);

    test::Guest guest_;
    std::vector<uint32_t> region_ends_;
};

// The one library of this process.
Library &library();

// Ends the run with `what` when `holds` is false.
void require(bool holds, const std::string &what);

}  // namespace kivos::fuzz
