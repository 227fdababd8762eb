// The two formatters inside the machine. Built cases use the directives each shares with the
// host's C library and must match it byte for byte; formats of any bytes must keep the rules:
// vsnprintf stores nothing past its size, always terminates, and answers the length it measures
// with no room at all; printf answers the bytes that reached the console.
#include <optional>
#include <regex>

#include "library.h"

namespace {

using kivos::fuzz::Library;
using kivos::fuzz::require;
constexpr int kFormat = 0, kBuffer = 1, kWhole = 2, kFirstString = 3;

struct Rendering {
    std::string format;
    std::vector<uint32_t> words;
    std::optional<std::string> expected = "";  // none where the host is no judge
    int next_string = kFirstString;

    // `directive` of `value`, which the guest reads from `taken`, as the host renders it.
    template <typename Value>
    void add(const std::string &directive, Value value, std::vector<uint32_t> taken) {
        char text[128];
        format += directive;
        expected->append(text, std::snprintf(text, sizeof text, directive.c_str(), value));
        words.insert(words.end(), taken.begin(), taken.end());
    }
};

// One directive; only the bounded formatter has flags and `X`.
void add_directive(kivos::fuzz::Input &in, bool bounded, Rendering &r) {
    char conversion = in.PickValueInArray({'d', 'i', 'u', 'x', 'X', 'c', 's', '%'});
    if (conversion == 'X' && !bounded) conversion = 'x';
    if (conversion == 's' && r.next_string == Library::kRegions) conversion = 'u';
    std::string flags;
    for (const char flag : {'-', '0', '+'})
        if (bounded && in.ConsumeBool()) flags += flag;
    std::string counts = in.ConsumeBool() ? std::to_string(in.ConsumeIntegralInRange(1, 30)) : "";
    const int precision = in.ConsumeIntegralInRange(-1, 30);
    const auto value = in.ConsumeIntegral<uint64_t>();
    const bool wide = in.ConsumeBool();  // ll
    const auto low = static_cast<uint32_t>(value);
    // C prints no digit for 0 at precision 0; both formatters print one.
    if (precision > 0 || (precision == 0 && (wide ? value : low) != 0))
        counts += "." + std::to_string(precision);
    if (conversion == '%') {
        r.format += "%" + flags + counts + "%";
        *r.expected += '%';
    } else if (conversion == 'c') {
        r.add("%c", low, {low});
    } else if (conversion == 's') {
        const std::string text = in.text(40);
        const uint32_t at = kivos::fuzz::library().c_string(r.next_string++, text);
        r.add((flags.find('-') != std::string::npos ? "%-" : "%") + counts + "s", text.c_str(),
              {at});
    } else {
        const std::string directive = "%" + flags + counts + (wide ? "ll" : "") + conversion;
        if (wide)
            r.add(directive, value, {low, static_cast<uint32_t>(value >> 32)});
        else if (conversion == 'd' || conversion == 'i')
            r.add(directive, static_cast<int>(low), {low});
        else
            r.add(directive, low, {low});
    }
}

Rendering build(kivos::fuzz::Input &in, bool bounded) {
    Rendering r;
    // A console format that opens with %c sends a control packet instead.
    if (!bounded) r.format = *r.expected = ".";
    for (int pieces = in.ConsumeIntegralInRange(1, 12); pieces > 0; --pieces) {
        if (!in.ConsumeBool()) {
            add_directive(in, bounded, r);
            continue;
        }
        std::string text = in.text(12);
        std::replace(text.begin(), text.end(), '%', '.');
        r.format += text;
        *r.expected += text;
    }
    return r;
}

uint32_t call(const char *function, std::vector<uint32_t> fixed, const Rendering &r) {
    fixed.insert(fixed.end(), r.words.begin(), r.words.end());
    return kivos::fuzz::library().call(function, fixed);
}

// snprintf into exactly `size` bytes before a guard page: the measured length, and a prefix of
// the whole rendering with its terminator.
void check_bounded(const Rendering &r, uint32_t size) {
    Library &lib = kivos::fuzz::library();
    const uint32_t at = lib.c_string(kFormat, r.format);
    const uint32_t length = call("snprintf", {0, 0, at}, r);
    require(!r.expected || length == r.expected->size(), "snprintf length of " + r.format);
    if (length >= Library::kRegionSize) return;
    const uint32_t whole = lib.buffer(kWhole, length + 1);
    require(call("snprintf", {whole, length + 1, at}, r) == length, "snprintf remeasured");
    const std::string text = lib.read(whole, length);
    require(!r.expected || text == *r.expected, "snprintf of " + r.format);
    size = std::min(size, length + 2);
    const uint32_t buffer = lib.buffer(kBuffer, size);
    require(call("snprintf", {buffer, size, at}, r) == length, "snprintf of any size");
    const size_t stored = std::min<size_t>(length, size == 0 ? 0 : size - 1);
    require(size == 0 || lib.read(buffer, size).starts_with(text.substr(0, stored) + '\0'),
            "snprintf stores a terminated prefix of " + r.format);
}

void check_console(const Rendering &r) {
    Library &lib = kivos::fuzz::library();
    std::string &console = lib.guest().console();
    // The kernel's trace would keep every write of every case: the run ran out of memory.
    console.clear();
    lib.guest().clear_trace();
    const uint32_t written = call("printf", {lib.c_string(kFormat, r.format)}, r);
    const size_t packet = r.format.starts_with("%c") ? 4 : 0;
    require(written == console.size() - packet, "printf counts what it wrote of " + r.format);
    require(!r.expected || console == *r.expected, "printf of " + r.format);
}

// Any bytes, with at most 16 directives and every argument a small number that no routine reads
// as a string. The console formatter writes each fill character on its own: no long widths.
void check_any(kivos::fuzz::Input &in) {
    const uint32_t size = in.ConsumeIntegralInRange<uint32_t>(0, 300);
    const Rendering r{in.text(200), std::vector<uint32_t>(64, 7), std::nullopt};
    if (std::count(r.format.begin(), r.format.end(), '%') > 16) return;
    check_bounded(r, size);
    if (!std::regex_search(r.format, std::regex("[0-9]{5}"))) check_console(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    kivos::fuzz::Input in(data, size);
    const int mode = in.ConsumeIntegralInRange(0, 2);
    if (mode == 2) {
        check_any(in);
    } else if (const Rendering r = build(in, mode == 0); mode == 0) {
        check_bounded(r, in.ConsumeIntegralInRange<uint32_t>(0, 600));
    } else {
        check_console(r);
    }
    return 0;
}
