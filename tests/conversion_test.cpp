// Text to integers and to floating point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "harness/guest.h"

namespace kivos::test {
namespace {

constexpr uint32_t k_canary = 0xa5a5a5a5;

// A conversion of `text` with an end pointer: the result and where the end was stored, as an
// offset into the text (nullopt for a null pointer).
struct Converted {
    uint32_t value;
    std::optional<int64_t> end;
};

std::optional<int64_t> stored_end(Guest &g, uint32_t slot, uint32_t text) {
    const uint32_t end = g.read32(slot);
    if (end == 0) return std::nullopt;
    return static_cast<int64_t>(end) - static_cast<int64_t>(text);
}

Converted convert(Guest &g, const std::string &function, const char *text, int base) {
    const uint32_t s = text == nullptr ? 0 : g.place_string(text);
    const uint32_t slot = g.reserve(4);
    g.write32(slot, k_canary);
    const uint32_t value = g.call(function, {s, slot, static_cast<uint32_t>(base)});
    return {value, stored_end(g, slot, s)};
}

TEST(IntegerConversion, StrtoulAndStrtolReadTheSameBits) {
    struct Case {
        const char *text;
        int base;
        uint32_t value;
        std::optional<int64_t> end;
    };
    const std::vector<Case> cases = {
        {"  42abc", 10, 42, 4},
        {"0x1F", 0, 31, 4},
        {"0x1F", 16, 31, 4},
        {"0x1F", 10, 0, 1},
        {"1f", 16, 31, 2},
        {"017", 0, 15, 3},
        {"017", 8, 15, 3},
        {"08", 0, 0, 1},
        {"0", 0, 0, 1},
        {"0x", 0, 0, 2},
        {"0X", 16, 0, 2},
        {"0xg", 0, 0, 2},
        {"-5", 10, 0, 0},
        {"+5", 10, 0, 0},
        {"\r\n\t 7", 10, 7, 5},
        {"\v7", 10, 0, 0},
        {"\f7", 10, 0, 0},
        {"  abc", 10, 0, 2},
        {"ff", 36, 555, 2},
        {"fg", 36, 15, 1},
        {"5", -3, 0, 0},
        {"0101", 1, 0, 1},
        {"101", 2, 5, 3},
        {"4294967295", 10, 0xffffffff, 10},
        {"4294967296", 10, 0, 10},
        {"4294967297", 10, 1, 10},
        {"100000000ff", 16, 0xff, 11},
        {nullptr, 10, 0, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text == nullptr ? "(null)" : c.text) + " base " +
                     std::to_string(c.base));
        Guest g;
        for (const char *function : {"strtoul", "strtol"}) {
            const Converted got = convert(g, function, c.text, c.base);
            EXPECT_EQ(got.value, c.value) << function;
            EXPECT_EQ(got.end, c.end) << function;
        }
        const uint32_t s = c.text == nullptr ? 0 : g.place_string(c.text);
        EXPECT_EQ(g.call("strtoul", {s, 0, static_cast<uint32_t>(c.base)}), c.value)
            << "without an end pointer";
    }
}

TEST(IntegerConversion, AtoiAndAtol) {
    struct Case {
        const char *text;
        int32_t value;
    };
    const std::vector<Case> cases = {
        {" \t\n-12x", -12},
        {"+7", 7},
        {"- 5", 0},
        {"--5", 0},
        {"+x", 0},
        {"\r5", 0},
        {"\v5", 0},
        {"4294967295", -1},
        {"2147483648", -2147483648},
        {"-2147483649", 2147483647},
        {"", 0},
        {"0x10", 0},
        {"007", 7},
        {nullptr, 0},
    };
    Guest g;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text == nullptr ? "(null)" : c.text);
        const uint32_t s = c.text == nullptr ? 0 : g.place_string(c.text);
        EXPECT_EQ(static_cast<int32_t>(g.call("atoi", {s})), c.value);
        EXPECT_EQ(static_cast<int32_t>(g.call("atol", {s})), c.value);
    }
}

TEST(IntegerConversion, ReadsNoFurtherThanTheTerminator) {
    Guest g;
    const uint32_t s = g.place_at_edge(std::string("  123\0", 6));
    EXPECT_EQ(g.call("strtoul", {s, 0, 0}), 123u);
    EXPECT_EQ(g.call("atoi", {s}), 123u);
}

// The ten bytes of an x87 extended value, for exact comparison and readable failures.
std::string bits(long double v) {
    unsigned char bytes[10];
    std::memcpy(bytes, &v, sizeof bytes);
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int i = 9; i >= 0; --i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
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

struct FloatCase {
    std::string text;
    long double value;
    int64_t end;
};

void expect_strtold(const std::vector<FloatCase> &cases) {
    Guest g;
    for (const FloatCase &c : cases) {
        SCOPED_TRACE(c.text);
        const uint32_t s = g.place_string(c.text);
        const uint32_t slot = g.reserve(4);
        EXPECT_EQ(bits(g.call_x87("strtold", {s, slot})), bits(c.value));
        EXPECT_EQ(stored_end(g, slot, s), c.end);
    }
}

TEST(FloatConversion, FormsSignsAndEnds) {
    expect_strtold({
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
        {"1e+", 1.0L, 1},
        {"1e-x", 1.0L, 1},
        {"0x1p", 1.0L, 3},
        {"0x1p-", 1.0L, 3},
        {"\v\f\r\n\t 7", 7.0L, 7},
        {"-0", -0.0L, 2},
        {"-0x0p9", -0.0L, 6},
        {"-x", 0.0L, 0},
        {".", 0.0L, 0},
        {"-.", 0.0L, 0},
        {"0x", 0.0L, 0},
        {"-0x", 0.0L, 0},
        {"0xg", 0.0L, 0},
        {"0x.p1", 0.0L, 0},
        {"inf", 0.0L, 0},
        {"-nan", 0.0L, 0},
        {"+x", 0.0L, 0},
        {"--1", 0.0L, 0},
        {"", 0.0L, 0},
    });
}

TEST(FloatConversion, DigitByDigitInExtendedPrecision) {
    const std::string forty = "1234567890123456789012345678901234567890";
    expect_strtold({
        {"3.14159", stepwise_decimal("314159", 5, 0), 7},
        {"0.1", stepwise_decimal("01", 1, 0), 3},
        {"2.5e-3", stepwise_decimal("25", 1, -3), 6},
        {forty, stepwise_decimal(forty, 0, 0), 40},
        // Past 2^64 the added digit still moves the value.
        {"25770236574470924681921", stepwise_decimal("25770236574470924681921", 0, 0), 23},
        {"0." + forty + "e5", stepwise_decimal("0" + forty, 40, 5), 44},
        {"98765432109876543210987.5e-300", stepwise_decimal("987654321098765432109875", 1, -300),
         30},
        {"1e1024", stepwise_decimal("1", 0, 1024), 6},
        {"1e-1024", stepwise_decimal("1", 0, -1024), 7},
        {"7e01024", stepwise_decimal("7", 0, 1024), 7},
        {"1." + std::string(1023, '3') + "e-1024",
         stepwise_decimal("1" + std::string(1023, '3'), 1023, -1024), 1031},
        {"0x123456789abcdef0123.8", stepwise_hex("123456789abcdef01238", 1), 23},
        {"0xffffffffffffffff8", stepwise_hex("ffffffffffffffff8", 0), 19},
        {"0x1." + std::string(1024, '0') + "1p1024",
         stepwise_hex("1" + std::string(1024, '0') + "1", 1025) * 0x1p1024L, 1034},
    });
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
    struct Exact {
        std::string text;
        long double value;
    };
    const std::vector<Exact> exact = {
        {"0x1p-16000", std::ldexp(1.0L, -16000)},
        {"0x1p-16445", tiniest},
        {"0x3p-16446", 2 * tiniest},
        {"0x1p-16446", 0.0L},
        {"-0x1p-99999", -0.0L},
        {"0x1p-1074", std::ldexp(1.0L, -1074)},
        {"0x1p16383", std::ldexp(1.0L, 16383)},
        {"0x1p16384", infinity},
        {"-0x1p99999999999999999999", -infinity},
        {"1e99999", infinity},
        {"1e99999999999999999999", infinity},
        {"-1e99999", -infinity},
        {"1e-99999", 0.0L},
        {"-1e-5000", -0.0L},
        {"0." + std::string(1100, '0') + "1e1101", 1.0L},
        {"1." + std::string(5000, '0'), 1.0L},
        {"1" + std::string(5000, '0') + "e-5000", 1.0L},
        {"0x1." + std::string(2000, '0'), 1.0L},
        {"0x1" + std::string(5000, '0') + "p-20000", 1.0L},
        {"0x0." + std::string(2000, '0') + "1p8004", 1.0L},
    };
    for (const Exact &c : exact) {
        SCOPED_TRACE(c.text.substr(0, 40));
        EXPECT_EQ(bits(strtold(c.text)), bits(c.value));
    }
    const std::vector<std::string> approximate = {
        "1e2000",
        "1e-2000",
        "1e1025",
        "1e-1025",
        "4.5e4931",
        "1.18e4932",
        "1.5e-4940",
        "7" + std::string(4000, '0') + "." + std::string(1000, '0'),
        "0." + std::string(2000, '0') + "123456789e100",
    };
    for (const std::string &text : approximate) {
        SCOPED_TRACE(text.substr(0, 40));
        expect_close(strtold(text), std::strtold(text.c_str(), nullptr));
    }
}

TEST(FloatConversion, StrtodRoundsOnceToDouble) {
    Guest g;
    struct Case {
        std::string text;
        double value;
        int64_t end;
    };
    const double tiniest = std::numeric_limits<double>::denorm_min();
    const std::vector<Case> cases = {
        {"3.14159", 3.14159, 7},
        {"0.1", 0.1, 3},
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
        {"1e99999", HUGE_VAL, 7},
        {"-1e99999", -HUGE_VAL, 8},
        {"-0", -0.0, 2},
        {"0x", 0.0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const uint32_t s = g.place_string(c.text);
        const uint32_t slot = g.reserve(4);
        // st(0) must hold the double itself, not the wider value it came from.
        EXPECT_EQ(bits(g.call_x87("strtod", {s, slot})), bits(static_cast<long double>(c.value)));
        EXPECT_EQ(stored_end(g, slot, s), c.end);
    }
}

TEST(FloatConversion, NullString) {
    Guest g;
    for (const char *function : {"strtold", "strtod"}) {
        SCOPED_TRACE(function);
        const uint32_t slot = g.reserve(4);
        g.write32(slot, k_canary);
        EXPECT_EQ(bits(g.call_x87(function, {0, slot})), bits(0.0L));
        EXPECT_EQ(g.read32(slot), 0u);
        EXPECT_EQ(bits(g.call_x87(function, {0, 0})), bits(0.0L));
    }
}

}  // namespace
}  // namespace kivos::test
