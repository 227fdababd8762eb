// The test image inside one machine for a whole fuzzing run, and the values a case's bytes
// decode into. Each case places its strings and buffers so that they end where an unmapped page
// begins, so a read or store past one faults; a fault, or a property that does not hold, ends the
// run with a report.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "harness/guest.h"

namespace kivos::fuzz {

// Ends the run with `what` when `holds` is false.
inline void require(bool holds, const std::string &what) {
    if (holds) return;
    std::fprintf(stderr, "property failed: %s\n", what.c_str());
    std::abort();
}

// What `call` answers; a fault of the guest ends the run.
template <typename Call>
auto guarded(std::string_view function, Call call) {
    try {
        return call();
    } catch (const test::GuestFault &fault) {
        require(false, std::string(function) + ": " + fault.what());
        throw;
    }
}

class Input : public FuzzedDataProvider {
  public:
    using FuzzedDataProvider::FuzzedDataProvider;
    // Up to `most` bytes that read as one C string.
    std::string text(size_t most) {
        std::string bytes = ConsumeRandomLengthString(most);
        bytes.resize(std::min(bytes.find('\0'), bytes.size()));
        return bytes;
    }
    // 1 to `most` characters of `alphabet`.
    std::string word(std::string_view alphabet, int most) {
        std::string word;
        for (int n = ConsumeIntegralInRange(1, most); n > 0; --n)
            word += alphabet[ConsumeIntegralInRange<size_t>(0, alphabet.size() - 1)];
        return word;
    }
    // Half the time a value near something that means much to the target.
    uint32_t telling(uint32_t base, uint32_t spread) {
        return ConsumeBool() ? base + ConsumeIntegralInRange<uint32_t>(0, spread)
                             : ConsumeIntegral<uint32_t>();
    }
};

class Library {
  public:
    static constexpr int kRegions = 12;
    static constexpr uint32_t kRegionSize = 1u << 16;

    Library() {
        for (int i = 0; i < kRegions; ++i)
            ends_.push_back(guest_.place_at_edge(std::string(kRegionSize, '\0')) + kRegionSize);
    }
    // `bytes` end at the guard page of `region`; their address.
    uint32_t at_edge(int region, std::string_view bytes) {
        require(bytes.size() <= kRegionSize, "a case larger than its region");
        const uint32_t address = ends_.at(region) - static_cast<uint32_t>(bytes.size());
        guest_.write(address, bytes);
        return address;
    }
    uint32_t c_string(int region, const std::string &text) { return at_edge(region, text + '\0'); }
    uint32_t buffer(int region, size_t size) { return at_edge(region, std::string(size, '#')); }
    uint32_t call(std::string_view function, const std::vector<uint32_t> &args) {
        return guarded(function, [&] { return guest_.call(function, args); });
    }
    long double call_x87(std::string_view function, const std::vector<uint32_t> &args) {
        return guarded(function, [&] { return guest_.call_x87(function, args); });
    }
    std::string read(uint32_t address, size_t size) const { return guest_.read(address, size); }
    test::Guest &guest() { return guest_; }

  private:
    test::Guest guest_;
    std::vector<uint32_t> ends_;
};

// The one library of this process.
inline Library &library() {
    static Library instance;
    return instance;
}

}  // namespace kivos::fuzz
