// Text to integers and to floating point.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "harness/guest.h"

namespace kivos::test {
namespace {

// Where the end pointer was stored, as an offset into the text; nullopt when it was set to null.
std::optional<int64_t> stored_end(Guest &g, uint32_t slot, uint32_t text) {
    const uint32_t end = g.read32(slot);
    if (end == 0) return std::nullopt;
    return static_cast<int64_t>(end) - static_cast<int64_t>(text);
}

// Where the host's C library reads a text alike, the convert fuzz target compares them; these
// cases are the library's own rules and the edges.
TEST(IntegerConversion, StrtoulAndStrtolReadTheSameBits) {
    struct Case {
        const char *text;
        int base;
        uint32_t value;
        std::optional<int64_t> end;
    };
    const std::vector<Case> cases = {
        {"0x", 0, 0, 2},
        {"-5", 10, 0, 0},
        {"+5", 10, 0, 0},
        {"\v7", 10, 0, 0},
        {"  abc", 10, 0, 2},
        {"ff", 36, 555, 2},
        {"fg", 36, 15, 1},
        {"FG", 36, 15, 1},
        {"Ab", 16, 171, 2},
        {"0X1F", 16, 31, 4},
        {"5", -3, 0, 0},
        {"0101", 1, 0, 1},
        {"4294967296", 10, 0, 10},
        {"100000000ff", 16, 0xff, 11},
        {nullptr, 10, 0, std::nullopt},
    };
    Guest g;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text == nullptr ? "(null)" : c.text) + " base " +
                     std::to_string(c.base));
        const uint32_t s = c.text == nullptr ? 0 : g.place_string(c.text);
        const auto base = static_cast<uint32_t>(c.base);
        for (const char *function : {"strtoul", "strtol"}) {
            const uint32_t slot = g.reserve(4, 0xa5);
            EXPECT_EQ(g.call(function, {s, slot, base}), c.value) << function;
            EXPECT_EQ(stored_end(g, slot, s), c.end) << function;
        }
        EXPECT_EQ(g.call("strtoul", {s, 0, base}), c.value) << "without an end pointer";
    }
}

TEST(IntegerConversion, AtoiAndAtolAndWhereTheyStop) {
    const std::vector<std::pair<const char *, int32_t>> cases = {
        {" \t\n-12x", -12},
        {"+7", 7},
        {"- 5", 0},
        {"\r5", 0},
        {"4294967295", -1},
        {"2147483648", -2147483648},
        {"-2147483649", 2147483647},
        {"", 0},
        {"0x10", 0},
        {"007", 7},
        {nullptr, 0},
    };
    Guest g;
    for (const auto &[text, value] : cases) {
        SCOPED_TRACE(text == nullptr ? "(null)" : text);
        const uint32_t s = text == nullptr ? 0 : g.place_string(text);
        EXPECT_EQ(static_cast<int32_t>(g.call("atoi", {s})), value);
        EXPECT_EQ(static_cast<int32_t>(g.call("atol", {s})), value);
    }
    // Neither reads past the terminator.
    const uint32_t s = g.place_at_edge(std::string("  123\0", 6));
    EXPECT_EQ(g.call("strtoul", {s, 0, 0}), 123u);
    EXPECT_EQ(g.call("atoi", {s}), 123u);
}

// The ten bytes of an x87 extended value, for exact comparison and readable failures.
std::string bits(long double v) {
    unsigned char bytes[10];
    std::memcpy(bytes, &v, sizeof bytes);
    char hex[21];
    for (int i = 0; i < 10; ++i) std::snprintf(hex + 2 * i, 3, "%02x", bytes[9 - i]);
    return hex;
}

// The specified operations, one rounding each: every digit as value * 10 + digit, then one
// division by 10 per fraction place, then one step of 10 per unit of exponent.
long double stepwise_decimal(const std::string &digits, int fraction_places, int exponent) {
    volatile long double v = 0;
    for (char c : digits) v = v * 10.0L + (c - '0');
    for (int i = 0; i < fraction_places; ++i) v = v / 10.0L;
    for (int i = 0; i < exponent; ++i) v = v * 10.0L;
    for (int i = 0; i > exponent; --i) v = v / 10.0L;
    return v;
}

long double stepwise_hex(const std::string &digits, int fraction_places) {
    volatile long double v = 0;
    for (char c : digits) v = v * 16.0L + std::stoi(std::string(1, c), nullptr, 16);
    for (int i = 0; i < fraction_places; ++i) v = v * 0.0625L;
    return v;
}

// Texts longer than any buffer a converter might keep.
std::string zeros_between(const std::string &head, size_t count, const std::string &tail) {
    std::string text = head;
    return text.append(count, '0').append(tail);
}

struct FloatCase {
    std::string text;
    long double value;
    int64_t end;
};

// strtod's values are doubles: st(0) must hold the double itself, not the wider value it came from.
void expect_floats(const char *function, const std::vector<FloatCase> &cases) {
    Guest g;
    for (const FloatCase &c : cases) {
        SCOPED_TRACE(c.text);
        const uint32_t s = g.place_string(c.text);
        const uint32_t slot = g.reserve(4);
        EXPECT_EQ(bits(g.call_x87(function, {s, slot})), bits(c.value));
        EXPECT_EQ(stored_end(g, slot, s), c.end);
    }
}

TEST(FloatConversion, FormsSignsAndEnds) {
    const std::vector<FloatCase> cases = {
        {"  -12.5e1x", -125.0L, 9},
        {"0x1.8p1", 3.0L, 7},
        {"0X1P-2", 0.25L, 6},
        {"0x.8", 0.5L, 4},
        {"0x1.", 1.0L, 4},
        {"0x1e", 30.0L, 4},
        {"0xA.Bp+4", 171.0L, 8},
        {".5", 0.5L, 2},
        {"5.", 5.0L, 2},
        {"5.e2", 500.0L, 4},
        {"1E3", 1000.0L, 3},
        {"+1e-2", stepwise_decimal("1", 0, -2), 5},
        {"1p5", 1.0L, 1},
        {"1e", 1.0L, 1},
        {"1e-x", 1.0L, 1},
        {"0x1p", 1.0L, 3},
        {"\v\f\r\n\t 7", 7.0L, 7},
        {"-0", -0.0L, 2},
        {"-0x0p9", -0.0L, 6},
        {"-x", 0.0L, 0},
        {".", 0.0L, 0},
        {"0x", 0.0L, 0},
        {"0x.p1", 0.0L, 0},
        {"inf", 0.0L, 0},
        {"--1", 0.0L, 0},
        {"", 0.0L, 0},
    };
    expect_floats("strtold", cases);
}

TEST(FloatConversion, DigitByDigitInExtendedPrecision) {
    const std::string forty = "1234567890123456789012345678901234567890";
    const std::string threes(1023, '3');
    const std::vector<FloatCase> cases = {
        {"3.14159", stepwise_decimal("314159", 5, 0), 7},
        {forty, stepwise_decimal(forty, 0, 0), 40},
        // Past 2^64 the added digit still moves the value.
        {"25770236574470924681921", stepwise_decimal("25770236574470924681921", 0, 0), 23},
        {"1e1024", stepwise_decimal("1", 0, 1024), 6},
        {"1e-1024", stepwise_decimal("1", 0, -1024), 7},
        {"1." + threes + "e-1024", stepwise_decimal("1" + threes, 1023, -1024), 1031},
        {"0x123456789abcdef0123.8", stepwise_hex("123456789abcdef01238", 1), 23},
        {zeros_between("0x1.", 1024, "1p1024"),
         stepwise_hex(zeros_between("1", 1024, "1"), 1025) * 0x1p1024L, 1034},
    };
    expect_floats("strtold", cases);
}

// Powers of ten squared up are not exact: past 1024 steps a value is right to a few units in the
// last of its 64 bits, or to the last bit a subnormal has.
void expect_close(long double got, long double want) {
    const long double tolerance =
        std::max(std::fabs(want) * 0x1p-56L, std::numeric_limits<long double>::denorm_min());
    EXPECT_LE(std::fabs(got - want), tolerance) << bits(got) << " " << bits(want);
}

TEST(FloatConversion, ExponentsAndFractionsPast1024) {
    Guest g;
    const auto strtold = [&](const std::string &text) {
        return g.call_x87("strtold", {g.place_string(text), 0});
    };
    const long double infinity = std::numeric_limits<long double>::infinity();
    const long double tiniest = std::numeric_limits<long double>::denorm_min();
    const std::vector<std::pair<std::string, long double>> exact = {
        {"0x1p-16445", tiniest},
        {"0x3p-16446", 2 * tiniest},
        {"0x1p-16446", 0.0L},
        {"-0x1p-99999", -0.0L},
        {"0x1p16383", std::ldexp(1.0L, 16383)},
        {"0x1p16384", infinity},
        {"-0x1p99999999999999999999", -infinity},
        {"1e99999", infinity},
        {"1e99999999999999999999", infinity},
        {"1e-99999", 0.0L},
        {"-1e-5000", -0.0L},
        {zeros_between("0.", 1100, "1e1101"), 1.0L},
        {zeros_between("1.", 5000, ""), 1.0L},
        {zeros_between("1", 5000, "e-5000"), 1.0L},
        {zeros_between("0x1.", 2000, ""), 1.0L},
        {zeros_between("0x1", 5000, "p-20000"), 1.0L},
        {zeros_between("0x0.", 2000, "1p8004"), 1.0L},
        // More digits than an exponent can be held at: the digits and the exponent net out.
        {zeros_between("0x1", 30000, "p-120000"), 1.0L},
        {zeros_between("0x0.", 30000, "1p120004"), 1.0L},
        {zeros_between("1", 110000, "e-110000"), 1.0L},
        {zeros_between("1", 150000, "e-99990"), infinity},
        {zeros_between("0.", 150000, "1e99990"), 0.0L},
    };
    for (const auto &[text, value] : exact) {
        SCOPED_TRACE(text.substr(0, 40));
        EXPECT_EQ(bits(strtold(text)), bits(value));
    }
    const std::vector<std::string> approximate = {
        "1e1025",
        "1e-1025",
        "4.5e4931",
        "1.18e4932",
        "1.5e-4940",
        zeros_between("7", 4000, zeros_between(".", 1000, "")),
        zeros_between("0.", 2000, "123456789e100"),
    };
    for (const std::string &text : approximate) {
        SCOPED_TRACE(text.substr(0, 40));
        expect_close(strtold(text), std::strtold(text.c_str(), nullptr));
    }
}

TEST(FloatConversion, StrtodRoundsOnceToDouble) {
    const double tiniest = std::numeric_limits<double>::denorm_min();
    const std::vector<FloatCase> cases = {
        {"3.14159", 3.14159, 7},
        {"-2.5e-3x", -2.5e-3, 7},
        {"1.7976931348623157e308", std::numeric_limits<double>::max(), 22},
        {"1.7976931348623159e308", HUGE_VAL, 22},
        {"2.2250738585072014e-308", std::numeric_limits<double>::min(), 23},
        {"4.9406564584124654e-324", tiniest, 23},
        {"2.5e-324", tiniest, 8},
        {"2.4e-324", 0.0, 8},
        {"0x1p-1074", tiniest, 9},
        {"0x1.8p-1074", 2 * tiniest, 11},
        {"0x1p-1075", 0.0, 9},
        {"0x1.000000000000081p0", 0x1.0000000000001p0, 21},
        {"1e-400", 0.0, 6},
        {"-1e-400", -0.0, 7},
        {"1e400", HUGE_VAL, 5},
        {"-0", -0.0, 2},
        {"0x", 0.0, 0},
    };
    expect_floats("strtod", cases);
}

TEST(FloatConversion, NullString) {
    Guest g;
    for (const char *function : {"strtold", "strtod"}) {
        SCOPED_TRACE(function);
        const uint32_t slot = g.reserve(4, 0xa5);
        EXPECT_EQ(bits(g.call_x87(function, {0, slot})), bits(0.0L));
        EXPECT_EQ(g.read32(slot), 0u);
        EXPECT_EQ(bits(g.call_x87(function, {0, 0})), bits(0.0L));
    }
}

}  // namespace
}  // namespace kivos::test
