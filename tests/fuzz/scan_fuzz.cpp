// sscanf inside the machine, its input, format and every destination ending at a guard page.
// Built cases use what the library shares with the host's C library (conversions without widths
// between blanks, numbers that fit) and must store and count what the host does; any input and
// any format must never fault and count no more than the format's conversions.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "library.h"

namespace {

using kivos::fuzz::Library;
using kivos::fuzz::require;
constexpr int kInput = 0, kFormat = 1, kFirstDestination = 2;
constexpr int kMostConversions = Library::kRegions - kFirstDestination;

struct Piece {
    std::string format;  // a blank directive, then one conversion
    std::string input;   // blanks, then a field
};

std::string digits(FuzzedDataProvider &in, const char *alphabet, int most) {
    std::string text;
    for (int n = in.ConsumeIntegralInRange(1, most); n > 0; --n)
        text += alphabet[in.ConsumeIntegralInRange<size_t>(0, std::strlen(alphabet) - 1)];
    return text;
}

// A field that its conversion takes whole or not at all, so that the next one starts where both
// readers expect it; numbers small enough to fit.
std::string field(FuzzedDataProvider &in, char conversion) {
    if (conversion == 'c') return digits(in, "abcxyz", 1);
    if (in.ConsumeIntegralInRange(0, 4) == 0) return digits(in, "ghijklmnopqrstuvwxyz", 6);
    const std::string sign = conversion != 'u' && in.ConsumeBool() ? "-" : "";
    switch (conversion) {
        case 'x':
        case 'X':
            return sign + digits(in, "0123456789abcdefABCDEF", 7);
        case 'i':
            switch (in.ConsumeIntegralInRange(0, 2)) {
                case 0:
                    return sign + "0x" + digits(in, "0123456789abcdefABCDEF", 7);
                case 1:
                    return sign + "0" + digits(in, "01234567", 9);
                default:
                    return sign + digits(in, "123456789", 1) + digits(in, "0123456789", 8);
            }
        default:
            return sign + digits(in, "0123456789", 9);
    }
}

// Blanks before every field; a character comes after a blank directive, which skips them.
Piece piece(FuzzedDataProvider &in) {
    const char conversion = in.PickValueInArray({'d', 'i', 'u', 'x', 'X', 'c', 's'});
    const bool blank = conversion == 'c' || in.ConsumeBool();
    return {std::string(blank ? " %" : "%") + conversion,
            std::string(in.ConsumeIntegralInRange(1, 2), ' ') + field(in, conversion)};
}

// What the host stores for one conversion, as bytes; nothing when it stops there.
bool host_scan(const Piece &p, const char *&input, std::string &stored) {
    int consumed = -1, value = 0;
    char word[256] = {};
    const char conversion = p.format.back();
    const std::string format = p.format + "%n";
    const int n = conversion == 's'   ? std::sscanf(input, format.c_str(), word, &consumed)
                  : conversion == 'c' ? std::sscanf(input, format.c_str(), word, &consumed)
                                      : std::sscanf(input, format.c_str(), &value, &consumed);
    if (n != 1 || consumed < 0) return false;
    input += consumed;
    stored = conversion == 's'   ? std::string(word) + '\0'
             : conversion == 'c' ? std::string(1, word[0])
                                 : std::string(reinterpret_cast<const char *>(&value), 4);
    return true;
}

void check_built(FuzzedDataProvider &in) {
    auto &lib = kivos::fuzz::library();
    std::vector<Piece> pieces(static_cast<size_t>(in.ConsumeIntegralInRange(1, kMostConversions)));
    std::string format, input;
    for (Piece &p : pieces) {
        p = piece(in);
        format += p.format;
        input += p.input;
    }
    std::vector<uint32_t> args = {lib.at_edge(kInput, input + '\0'),
                                  lib.at_edge(kFormat, format + '\0')};
    const size_t room = input.size() + 1;
    for (int i = 0; i < static_cast<int>(pieces.size()); ++i) {
        const std::string &f = pieces[static_cast<size_t>(i)].format;
        const size_t size = f.back() == 's' ? room : f.back() == 'c' ? 1 : 4;
        args.push_back(lib.at_edge(kFirstDestination + i, std::string(size, '#')));
    }
    const uint32_t count = lib.call("sscanf", args);
    const char *rest = input.c_str();
    uint32_t expected = 0;
    std::string stored;
    for (; expected < pieces.size() && host_scan(pieces[expected], rest, stored); ++expected)
        require(lib.read(args[2 + expected], stored.size()) == stored,
                "sscanf stored of " + format + " on " + input);
    require(count == expected, "sscanf counted of " + format + " on " + input);
}

void check_any(FuzzedDataProvider &in) {
    auto &lib = kivos::fuzz::library();
    std::string format = in.ConsumeRandomLengthString(40);
    format.resize(std::min(format.find('\0'), format.size()));
    const auto conversions = std::count(format.begin(), format.end(), '%');
    if (conversions > kMostConversions) return;
    std::string input = in.ConsumeRemainingBytesAsString();
    input.resize(std::min({input.find('\0'), input.size(), size_t{1000}}));
    std::vector<uint32_t> args = {lib.at_edge(kInput, input + '\0'),
                                  lib.at_edge(kFormat, format + '\0')};
    for (int i = 0; i < conversions; ++i)
        args.push_back(lib.at_edge(kFirstDestination + i,
                                   std::string(std::max<size_t>(input.size() + 1, 4), '#')));
    require(lib.call("sscanf", args) <= static_cast<uint32_t>(conversions),
            "sscanf counted too many");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool())
        check_built(in);
    else
        check_any(in);
    return 0;
}
