// sscanf inside the machine, its input, format and every destination ending at a guard page.
// Built cases use what the library shares with the host's C library (conversions without widths
// between blanks, numbers that fit) and must store and count what the host does; any input and
// any format must never fault and count no more than the format's conversions.
#include "library.h"

namespace {

using kivos::fuzz::Input;
using kivos::fuzz::require;
constexpr int kInput = 0, kFormat = 1, kFirstDestination = 2;
constexpr int kMostConversions = kivos::fuzz::Library::kRegions - kFirstDestination;
constexpr std::string_view kHex = "0123456789abcdefABCDEF", kDecimal = kHex.substr(0, 10);

struct Piece {
    std::string format;  // a blank directive, then one conversion
    std::string input;   // blanks, then a field
};

// A field that its conversion takes whole or not at all, so that the next one starts where both
// readers expect it; numbers small enough to fit.
std::string field(Input &in, char conversion) {
    if (conversion == 'c') return in.word("abcxyz", 1);
    if (in.ConsumeIntegralInRange(0, 4) == 0) return in.word("ghijklmnopqrstuvwxyz", 6);
    const std::string sign = conversion != 'u' && in.ConsumeBool() ? "-" : "";
    if (conversion == 'x' || conversion == 'X') return sign + in.word(kHex, 7);
    if (conversion != 'i') return sign + in.word(kDecimal, 9);
    const int base = in.ConsumeIntegralInRange(0, 2);
    return sign + (base == 0   ? "0x" + in.word(kHex, 7)
                   : base == 1 ? "0" + in.word("01234567", 9)
                               : in.word("123456789", 1) + in.word(kDecimal, 8));
}

// Blanks before every field; a character comes after a blank directive, which skips them.
Piece piece(Input &in) {
    const char conversion = in.PickValueInArray({'d', 'i', 'u', 'x', 'X', 'c', 's'});
    const bool blank = conversion == 'c' || in.ConsumeBool();
    return {std::string(blank ? " %" : "%") + conversion,
            std::string(in.ConsumeIntegralInRange(1, 2), ' ') + field(in, conversion)};
}

// What the host stores for one conversion, as bytes; false when it stops there.
bool host_scan(const Piece &p, const char *&input, std::string &stored) {
    int consumed = -1, value = 0;
    char word[256] = {};
    const char conversion = p.format.back();
    void *destination = conversion == 's' || conversion == 'c' ? static_cast<void *>(word) : &value;
    if (std::sscanf(input, (p.format + "%n").c_str(), destination, &consumed) != 1 || consumed < 0)
        return false;
    input += consumed;
    stored = conversion == 's'   ? std::string(word) + '\0'
             : conversion == 'c' ? std::string(1, word[0])
                                 : std::string(reinterpret_cast<const char *>(&value), 4);
    return true;
}

// sscanf of `input` by `format` into destinations of `sizes`: the arguments, then the count.
std::vector<uint32_t> scan(const std::string &input, const std::string &format,
                           const std::vector<size_t> &sizes) {
    auto &lib = kivos::fuzz::library();
    std::vector<uint32_t> args = {lib.c_string(kInput, input), lib.c_string(kFormat, format)};
    for (size_t i = 0; i < sizes.size(); ++i)
        args.push_back(lib.buffer(kFirstDestination + static_cast<int>(i), sizes[i]));
    args.push_back(lib.call("sscanf", args));
    return args;
}

void check_built(Input &in) {
    std::vector<Piece> pieces(static_cast<size_t>(in.ConsumeIntegralInRange(1, kMostConversions)));
    std::string format, input;
    std::vector<size_t> sizes;
    for (Piece &p : pieces) {
        p = piece(in);
        format += p.format;
        input += p.input;
    }
    for (const Piece &p : pieces)
        sizes.push_back(p.format.back() == 's' ? input.size() + 1 : p.format.back() == 'c' ? 1 : 4);
    const std::vector<uint32_t> args = scan(input, format, sizes);
    const char *rest = input.c_str();
    uint32_t expected = 0;
    std::string stored;
    for (; expected < pieces.size() && host_scan(pieces[expected], rest, stored); ++expected)
        require(kivos::fuzz::library().read(args[2 + expected], stored.size()) == stored,
                "sscanf stored of " + format + " on " + input);
    require(args.back() == expected, "sscanf counted of " + format + " on " + input);
}

void check_any(Input &in) {
    const std::string format = in.text(40);
    const auto conversions = std::count(format.begin(), format.end(), '%');
    if (conversions > kMostConversions) return;
    const std::string input = in.text(1000);
    const std::vector<size_t> sizes(static_cast<size_t>(conversions),
                                    std::max<size_t>(input.size() + 1, 4));
    require(scan(input, format, sizes).back() <= static_cast<uint32_t>(conversions),
            "sscanf counted too many");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input in(data, size);
    if (in.ConsumeBool())
        check_built(in);
    else
        check_any(in);
    return 0;
}
