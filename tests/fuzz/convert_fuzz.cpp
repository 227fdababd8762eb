// strtoul, strtol, strtod and strtold inside the machine, on text that ends at a guard page: the
// end pointer stays inside the text, strtol is strtoul read as signed, strtod is strtold rounded
// once; where the host's C library reads the text alike, the values and ends agree, and strtod
// of a decimal of up to 17 digits is at most one unit in the last place from the host's nearest
// double.
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>

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
    uint32_t at, end_slot;

    // Calls `function` on the text and answers its value; `end` is where its end pointer points,
    // as an offset into the text.
    template <typename Value>
    Value convert(const char *function, uint32_t &end, std::vector<uint32_t> more = {}) const {
        auto &lib = kivos::fuzz::library();
        more.insert(more.begin(), {at, end_slot});
        const Value value =
            std::is_integral_v<Value> ? lib.call(function, more) : lib.call_x87(function, more);
        end = lib.guest().read32(end_slot) - at;
        require(end <= bytes.size(), std::string(function) + " ends outside " + bytes);
        return value;
    }
};

void check_integer(const Text &text, int base) {
    uint32_t end, signed_end;
    const auto value = text.convert<uint32_t>("strtoul", end, {static_cast<uint32_t>(base)});
    require(text.convert<uint32_t>("strtol", signed_end, {static_cast<uint32_t>(base)}) == value &&
                signed_end == end,
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

void check_floating(const Text &text, bool decimal) {
    uint32_t end, wide_end;
    const auto wide = text.convert<long double>("strtold", wide_end);
    const auto value = static_cast<double>(text.convert<long double>("strtod", end));
    require(end == wide_end && (value == static_cast<double>(wide) || std::isnan(value)),
            "strtod is not strtold rounded on " + text.bytes);
    // The host also reads infinities, NaNs and a lone "0x".
    if (text.bytes.find_first_of("iInNxX") != std::string::npos) return;
    char *host_end = nullptr;
    const double host = std::strtod(text.bytes.c_str(), &host_end);
    require(end == static_cast<uint32_t>(host_end - text.bytes.c_str()),
            "strtod ends elsewhere than the host on " + text.bytes);
    if (!decimal || !std::isnormal(host)) return;
    // Units in the last place apart: finite doubles of one sign are ordered as their bits.
    const auto apart = static_cast<uint64_t>(
        std::abs(std::bit_cast<int64_t>(value) - std::bit_cast<int64_t>(host)));
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
    kivos::fuzz::Input in(data, size);
    auto &lib = kivos::fuzz::library();
    const bool decimal = in.ConsumeBool();
    const int base = in.ConsumeIntegral<int>();
    const std::string bytes = decimal ? random_decimal(data, size) : in.text(size);
    const Text text{bytes, lib.c_string(0, bytes), lib.buffer(1, 4)};
    check_integer(text, decimal ? 10 : base % 40);
    check_floating(text, decimal);
    return 0;
}
