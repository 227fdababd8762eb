// The two formatters inside the machine. Built cases use the directives each shares with the
// host's C library and must match it byte for byte; formats of any bytes must keep the rules:
// vsnprintf stores nothing past its size, always terminates, and answers the length it measures
// with no room at all; printf answers the bytes that reached the console.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "library.h"

namespace {

using kivos::fuzz::Library;
using kivos::fuzz::require;
constexpr int kFormat = 0, kBuffer = 1, kWhole = 2, kFirstString = 3;

struct Rendering {
    std::string format;
    std::vector<uint32_t> words;
    std::string expected;
    int next_string = kFirstString;
};

template <typename Value>
std::string host(const std::string &format, Value value) {
    char text[128];
    const int n = std::snprintf(text, sizeof text, format.c_str(), value);
    return std::string(text, static_cast<size_t>(n));
}

// One directive; only the bounded formatter has flags and `X`.
void add_directive(FuzzedDataProvider &in, bool bounded, Rendering &r) {
    char conversion = bounded ? in.PickValueInArray({'d', 'i', 'u', 'x', 'X', 'c', 's', '%'})
                              : in.PickValueInArray({'d', 'i', 'u', 'x', 'c', 's', '%'});
    if (conversion == 's' && r.next_string == Library::kRegions) conversion = 'u';
    std::string flags;
    for (const char flag : {'-', '0', '+'})
        if (bounded && in.ConsumeBool()) flags += flag;
    std::string counts = in.ConsumeBool() ? std::to_string(in.ConsumeIntegralInRange(1, 30)) : "";
    // C prints no digit for 0 at precision 0; both formatters print one.
    const int precision = in.ConsumeIntegralInRange(-1, 30);
    const auto value = in.ConsumeIntegral<uint64_t>();
    const std::string length = in.ConsumeBool() ? "ll" : "";
    const auto low = static_cast<uint32_t>(value);
    const uint64_t read = length.empty() ? low : value;  // what the directive takes
    if (precision >= 0 && (precision > 0 || read != 0)) counts += "." + std::to_string(precision);
    if (conversion == '%') {
        r.format += "%" + flags + counts + "%";
        r.expected += '%';
    } else if (conversion == 'c') {
        r.format += "%c";
        r.expected += static_cast<char>(low);
        r.words.push_back(low);
    } else if (conversion == 's') {
        std::string text = in.ConsumeRandomLengthString(40);
        std::replace(text.begin(), text.end(), '\0', '.');
        const std::string format =
            (flags.find('-') != std::string::npos ? "%-" : "%") + counts + "s";
        r.format += format;
        r.expected += host(format, text.c_str());
        r.words.push_back(kivos::fuzz::library().at_edge(r.next_string++, text + '\0'));
    } else {
        const std::string format = "%" + flags + counts + length + conversion;
        const bool is_signed = conversion == 'd' || conversion == 'i';
        r.format += format;
        r.expected += !length.empty() ? host(format, value)
                      : is_signed     ? host(format, static_cast<int>(low))
                                      : host(format, low);
        r.words.push_back(low);
        if (!length.empty()) r.words.push_back(static_cast<uint32_t>(value >> 32));
    }
}

Rendering build(FuzzedDataProvider &in, bool bounded) {
    Rendering r;
    // A console format that opens with %c sends a control packet instead.
    if (!bounded) r.format = r.expected = ".";
    for (int pieces = in.ConsumeIntegralInRange(1, 12); pieces > 0; --pieces) {
        if (in.ConsumeBool()) {
            std::string text = in.ConsumeRandomLengthString(12);
            std::replace_if(
                text.begin(), text.end(), [](char c) { return c == '%' || c == '\0'; }, '.');
            r.format += text;
            r.expected += text;
        } else {
            add_directive(in, bounded, r);
        }
    }
    return r;
}

uint32_t call(const char *function, std::vector<uint32_t> fixed,
              const std::vector<uint32_t> &words) {
    fixed.insert(fixed.end(), words.begin(), words.end());
    return kivos::fuzz::library().call(function, fixed);
}

// snprintf into exactly `size` bytes before a guard page: the measured length, and a prefix of
// the whole rendering with its terminator.
void check_bounded(const std::string &format, const std::vector<uint32_t> &words, uint32_t size,
                   const std::string *expected) {
    Library &lib = kivos::fuzz::library();
    const uint32_t at = lib.at_edge(kFormat, format + '\0');
    const uint32_t length = call("snprintf", {0, 0, at}, words);
    if (expected != nullptr) require(length == expected->size(), "snprintf length of " + format);
    if (length >= Library::kRegionSize) return;
    const uint32_t whole = lib.at_edge(kWhole, std::string(length + 1, '#'));
    require(call("snprintf", {whole, length + 1, at}, words) == length, "snprintf remeasured");
    const std::string text = lib.read(whole, length);
    require(expected == nullptr || text == *expected, "snprintf of " + format);
    size = std::min(size, length + 2);
    const uint32_t buffer = lib.at_edge(kBuffer, std::string(size, '#'));
    require(call("snprintf", {buffer, size, at}, words) == length, "snprintf of any size");
    const size_t stored = std::min<size_t>(length, size == 0 ? 0 : size - 1);
    require(size == 0 || lib.read(buffer, size).starts_with(text.substr(0, stored) + '\0'),
            "snprintf stores a terminated prefix of " + format);
}

void check_console(const std::string &format, const std::vector<uint32_t> &words,
                   const std::string *expected) {
    Library &lib = kivos::fuzz::library();
    std::string &console = lib.guest().console();
    console.clear();
    const uint32_t written = call("printf", {lib.at_edge(kFormat, format + '\0')}, words);
    const size_t packet = format.starts_with("%c") ? 4 : 0;
    require(written == console.size() - packet, "printf counts what it wrote of " + format);
    require(expected == nullptr || console == *expected, "printf of " + format);
}

// Any bytes, with at most 16 directives and every argument a small number that no routine reads
// as a string. The console formatter writes each fill character on its own: no long widths.
void check_any(FuzzedDataProvider &in) {
    const uint32_t size = in.ConsumeIntegralInRange<uint32_t>(0, 300);
    std::string format = in.ConsumeRandomLengthString(200);
    format.resize(std::min(format.find('\0'), format.size()));
    if (std::count(format.begin(), format.end(), '%') > 16) return;
    const std::vector<uint32_t> words(64, 7);
    check_bounded(format, words, size, nullptr);
    int digits = 0;
    for (const char c : format) {
        digits = c >= '0' && c <= '9' ? digits + 1 : 0;
        if (digits > 4) return;
    }
    check_console(format, words, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0: {
            const Rendering r = build(in, true);
            check_bounded(r.format, r.words, in.ConsumeIntegralInRange<uint32_t>(0, 600),
                          &r.expected);
            break;
        }
        case 1: {
            const Rendering r = build(in, false);
            check_console(r.format, r.words, &r.expected);
            break;
        }
        default:
            check_any(in);
    }
    return 0;
}
