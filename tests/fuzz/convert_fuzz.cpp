// strtoul, strtol, strtod and strtold inside the machine, on text that ends at a guard page: the
// end pointer stays inside the text, strtol is strtoul read as signed, strtod is strtold rounded
// once; where the host's C library reads the text alike, the values and ends agree, and strtod
// of a decimal of up to 17 digits is at most one unit in the last place from the host's nearest
// double.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "library.h"

namespace {

using kivos::fuzz::require;

// strtod of random decimals against the host's nearest double, by significant digits: up to 8,
// and 9 to 17.
struct Figures {
    uint64_t decimals[2] = {}, one_unit_off[2] = {};
    ~Figures() {
        for (int longer = 0; longer < 2; ++longer)
            std::printf(
                "convert: strtod of %llu random decimals of %s significant digits: %.2f %% "
                "one unit off, none two\n",
                static_cast<unsigned long long>(decimals[longer]), longer ? "9 to 17" : "1 to 8",
                100.0 * static_cast<double>(one_unit_off[longer]) /
                    static_cast<double>(std::max<uint64_t>(decimals[longer], 1)));
    }
} figures;

struct Text {
    std::string bytes;
    uint32_t at;
    uint32_t end_slot;
};

// Where the guest's end pointer points, as an offset into the text.
uint32_t end_of(const Text &text) {
    const uint32_t end = kivos::fuzz::library().guest().read32(text.end_slot);
    require(end >= text.at && end <= text.at + text.bytes.size(), "end outside " + text.bytes);
    return end - text.at;
}

void check_integer(const Text &text, int base) {
    auto &lib = kivos::fuzz::library();
    const uint32_t value =
        lib.call("strtoul", {text.at, text.end_slot, static_cast<uint32_t>(base)});
    const uint32_t end = end_of(text);
    require(lib.call("strtol", {text.at, text.end_slot, static_cast<uint32_t>(base)}) == value &&
                end_of(text) == end,
            "strtol differs from strtoul on " + text.bytes);
    // The host also skips vertical tabs and form feeds, takes a sign, and letters past f.
    const size_t start = text.bytes.find_first_not_of("\t\n\r ");
    if (base == 1 || base < 0 || base > 16 || start == std::string::npos ||
        std::strchr("\v\f+-", text.bytes[start]) != nullptr)
        return;
    errno = 0;
    char *host_end = nullptr;
    const unsigned long long host = std::strtoull(text.bytes.c_str(), &host_end, base);
    if (errno != 0) return;
    const auto host_offset = static_cast<uint32_t>(host_end - text.bytes.c_str());
    // With no digit the host ends at the start, the library behind the blanks (and behind a
    // "0x" without a hex digit, where the host ends behind the 0).
    const bool no_digit =
        host_offset == 0 || (end == host_offset + 1 && std::strchr("xX", text.bytes[host_offset]));
    require(value == static_cast<uint32_t>(host) && (end == host_offset || no_digit),
            "strtoul differs from the host on " + text.bytes);
}

// The distance in units of the last place between two finite doubles of one sign.
uint64_t units_apart(double a, double b) {
    int64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return static_cast<uint64_t>(x > y ? x - y : y - x);
}

void check_floating(const Text &text, bool decimal) {
    auto &lib = kivos::fuzz::library();
    const long double wide = lib.call_x87("strtold", {text.at, text.end_slot});
    const uint32_t end = end_of(text);
    const double value = static_cast<double>(lib.call_x87("strtod", {text.at, text.end_slot}));
    require(end_of(text) == end && (value == static_cast<double>(wide) || std::isnan(value)),
            "strtod is not strtold rounded on " + text.bytes);
    // The host also reads infinities, NaNs and a lone "0x".
    if (text.bytes.find_first_of("iInNxX") != std::string::npos) return;
    char *host_end = nullptr;
    const double host = std::strtod(text.bytes.c_str(), &host_end);
    require(end == static_cast<uint32_t>(host_end - text.bytes.c_str()),
            "strtod ends elsewhere than the host on " + text.bytes);
    if (!decimal || !std::isnormal(host)) return;
    const uint64_t apart = units_apart(value, host);
    require(apart <= 1, "strtod two units off on " + text.bytes);
    // Every digit is significant: the first is never 0.
    const auto exponent = text.bytes.begin() + static_cast<long>(text.bytes.find('e'));
    const bool longer = std::count_if(text.bytes.begin(), exponent, ::isdigit) > 8;
    ++figures.decimals[longer];
    figures.one_unit_off[longer] += apart;
}

// A random decimal of up to 17 significant digits, a point anywhere among them and an exponent
// of up to 3 digits. Drawn from the case's bytes as a whole, so that the fuzzer's preferences
// do not bias the share of results that are off.
std::string random_decimal(const uint8_t *data, size_t size) {
    std::mt19937_64 random(
        std::hash<std::string_view>{}({reinterpret_cast<const char *>(data), size}));
    const auto draw = [&](int low, int high) {
        return std::uniform_int_distribution(low, high)(random);
    };
    std::string digits(1, static_cast<char>('0' + draw(1, 9)));
    for (int more = draw(0, 16); more > 0; --more) digits += static_cast<char>('0' + draw(0, 9));
    digits.insert(static_cast<size_t>(draw(0, static_cast<int>(digits.size()))), ".");
    return (draw(0, 1) ? "-" : "") + digits + "e" + std::to_string(draw(-330, 310));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    auto &lib = kivos::fuzz::library();
    const bool decimal = in.ConsumeBool();
    const int base = in.ConsumeIntegral<int>();
    std::string bytes = decimal ? random_decimal(data, size) : in.ConsumeRemainingBytesAsString();
    bytes.resize(std::min(bytes.find('\0'), bytes.size()));
    const Text text{bytes, lib.at_edge(0, bytes + '\0'), lib.at_edge(1, std::string(4, '\0'))};
    check_integer(text, decimal ? 10 : base % 40);
    check_floating(text, decimal);
    return 0;
}
