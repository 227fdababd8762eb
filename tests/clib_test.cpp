// The C pieces a command reaches for first, and the C++ runtime under new and delete,
// called inside the machine.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "harness/guest.h"
#include "harness/string_arg.h"

namespace kivos::test {
namespace {

// The host's C locale is the oracle for ASCII; every other value has no class and no case.
TEST(Ctype, EveryClassAndCaseMatchesAsciiAndNothingElse) {
    const std::vector<std::pair<const char *, int (*)(int)>> functions = {
        {"isalnum", isalnum}, {"isalpha", isalpha}, {"isblank", isblank}, {"iscntrl", iscntrl},
        {"isdigit", isdigit}, {"isgraph", isgraph}, {"islower", islower}, {"isprint", isprint},
        {"ispunct", ispunct}, {"isspace", isspace}, {"isupper", isupper}, {"isxdigit", isxdigit},
        {"tolower", tolower}, {"toupper", toupper}};
    std::vector<int> values = {-129, -2, -1, 128, 200, 255, 256, 0x1141};
    for (int c = 0; c < 128; ++c) values.push_back(c);
    Guest g;
    for (const auto &[name, host] : functions) {
        const bool maps = std::string(name).starts_with("to");
        for (int c : values) {
            const int expected = c >= 0 && c < 128 ? host(c) : maps ? c : 0;
            const auto got = static_cast<int32_t>(g.call(name, {static_cast<uint32_t>(c)}));
            EXPECT_EQ(maps ? got : got != 0, maps ? expected : expected != 0) << name << c;
        }
    }
}

TEST(StringScan, FindsBytesAndSetMembersWithoutReadingPastTheEnd) {
    struct Case {
        StrArg s, set;
        int32_t span, complement, found;  // strspn, strcspn, strpbrk's offset (-1: null)
    };
    const std::vector<Case> cases = {
        {text("aabxa"), text("ab"), 3, 0, 0},
        {text("key=v:l"), text("=:"), 0, 3, 3},
        {text("\xe9\xe9z"), text("\xe9"), 2, 0, 0},
        {text("abc"), text(""), 0, 3, -1},
        {text("abc"), raw(0), 0, 3, -1},
        {text("abc"), raw(16), 0, 3, -1},
        {raw(0), text("a"), 0, 0, -1},
        {raw(4095), text("a"), 0, 0, -1},
    };
    Guest g;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.s.label() + " " + c.set.label());
        const uint32_t s = c.s.place(g), set = c.set.place(g);
        EXPECT_EQ(g.call("strspn", {s, set}), static_cast<uint32_t>(c.span));
        EXPECT_EQ(g.call("strcspn", {s, set}), static_cast<uint32_t>(c.complement));
        EXPECT_EQ(g.call("strpbrk", {s, set}), c.found < 0 ? 0 : s + c.found);
    }
    const uint32_t bytes = g.place_at_edge(std::string("ab\0\xff", 4));
    EXPECT_EQ(g.call("memchr", {bytes, 0xff, 4}), bytes + 3) << "past a NUL, by its low byte";
    EXPECT_EQ(g.call("memchr", {bytes, 0x100, 4}), bytes + 2);
    EXPECT_EQ(g.call("memchr", {bytes, 'c', 4}), 0u);
    EXPECT_EQ(g.call("memchr", {0, 'a', 8}), 0u);
}

constexpr uint32_t k_record = 8;

// Fixed-width string records, sorted and searched with strcmp as the comparator.
uint32_t place_records(Guest &g, const std::vector<std::string> &words) {
    std::string bytes;
    for (const std::string &w : words) bytes += w + std::string(k_record - w.size(), '\0');
    return g.place(bytes);
}

std::vector<std::string> read_records(Guest &g, uint32_t address, uint32_t count) {
    std::vector<std::string> words;
    for (uint32_t i = 0; i < count; ++i) words.push_back(g.read_string(address + i * k_record));
    return words;
}

// Four-digit numbers 0 to count-1 in the order asked for, or count sevens.
std::vector<std::string> numbered(uint32_t count, const std::string &order) {
    std::vector<std::string> words;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t n = order == "equal" ? 7 : order == "reversed" ? count - 1 - i : i;
        words.push_back(std::string(4 - std::to_string(n).size(), '0') + std::to_string(n));
    }
    return words;
}

TEST(Qsort, SortsAnyOrderInNLogNAndRefusesWhatItCannotSort) {
    GuestOptions counting;
    counting.count_instructions = true;
    Guest g(counting);
    const uint32_t compare = g.symbol("strcmp");
    for (const std::string order : {"sorted", "reversed", "equal"}) {
        uint64_t cost[2];
        for (const uint32_t n : {256u, 1024u}) {
            const uint32_t base = place_records(g, numbered(n, order));
            g.call("qsort", {base, n, k_record, compare});
            EXPECT_EQ(read_records(g, base, n), numbered(n, order == "equal" ? order : "sorted"));
            cost[n == 1024] = g.instructions();
        }
        // Four times the elements: n log n costs five times as much, n^2 sixteen times.
        EXPECT_LT(cost[1], 8 * cost[0]) << order;
    }
    const uint32_t pair = place_records(g, {"pear", "fig"});
    g.call("qsort", {pair, 2, k_record, compare});
    EXPECT_EQ(read_records(g, pair, 2), (std::vector<std::string>{"fig", "pear"}));

    const uint32_t base = place_records(g, {"pear", "fig", "apple"});
    for (const auto &[at, count, size, by] :
         std::vector<std::array<uint32_t, 4>>{{0, 3, k_record, compare},
                                              {base, 3, 0, compare},
                                              {base, 3, k_record, 0},
                                              {base, 0x20000000, k_record, compare}}) {
        g.call("qsort", {at, count, size, by});
        EXPECT_EQ(read_records(g, base, 3), (std::vector<std::string>{"pear", "fig", "apple"}));
    }
}

TEST(Bsearch, FindsEveryElementAndNothingBetween) {
    Guest g;
    const uint32_t compare = g.symbol("strcmp");
    const uint32_t base = place_records(g, {"b", "d", "f", "h"});
    const std::vector<std::tuple<std::string, uint32_t, uint32_t, int>> cases = {
        {"b", base, 4, 0},  {"d", base, 4, 1},  {"f", base, 4, 2},  {"h", base, 4, 3},
        {"a", base, 4, -1}, {"c", base, 4, -1}, {"i", base, 4, -1}, {"b", base, 0, -1},
        {"b", base, 1, 0},  {"d", base, 1, -1}, {"b", 0, 4, -1}};
    for (const auto &[key, at, count, found] : cases) {
        EXPECT_EQ(g.call("bsearch", {g.place_string(key), at, count, k_record, compare}),
                  found < 0 ? 0 : base + found * k_record)
            << key << " in " << count;
    }
}

TEST(Div, QuotientTowardZeroAndNoTrapOnTheTwoRefusedDivisions) {
    const std::vector<std::array<int32_t, 4>> cases = {{7, 2, 3, 1},
                                                       {-7, 2, -3, -1},
                                                       {7, -2, -3, 1},
                                                       {-7, -2, 3, -1},
                                                       {5, 0, 0, 5},
                                                       {0, -3, 0, 0},
                                                       {INT32_MIN, -1, INT32_MIN, 0}};
    Guest g;
    for (const char *function : {"div", "ldiv"}) {
        for (const auto &[numerator, denominator, quotient, remainder] : cases) {
            // The result comes back through a hidden pointer to the caller's struct.
            const uint32_t result = g.reserve(8);
            g.call(function,
                   {result, static_cast<uint32_t>(numerator), static_cast<uint32_t>(denominator)});
            EXPECT_EQ(static_cast<int32_t>(g.read32(result)), quotient) << numerator;
            EXPECT_EQ(static_cast<int32_t>(g.read32(result + 4)), remainder) << numerator;
        }
    }
}

TEST(Runtime, EndsAProgramThatCannotGoOnWithOneLine) {
    const std::string exhausted = "operator new: out of memory: the heap arena is exhausted\n";
    const std::vector<std::tuple<const char *, std::vector<uint32_t>, std::string>> cases = {
        {"_Znwj", {0x200000}, exhausted},
        {"_Znaj", {0xffffffffu}, exhausted},
        {"_ZnwjSt11align_val_t", {16, 24}, exhausted},  // 24 is no alignment
        {"__cxa_pure_virtual", {}, "pure virtual function called\n"},
        {"__assert_fail", {0, 0, 4294967295u, 0}, ":4294967295: : Assertion '' failed.\n"},
    };
    for (const auto &[function, args, console] : cases) {
        Guest g;
        g.call(function, args);
        EXPECT_EQ(g.exit_status(), 1) << function;
        EXPECT_EQ(g.console(), console) << function;
    }
    Guest g;
    g.call("__assert_fail",
           {g.place_string("x > 0"), g.place_string("f.c"), 12, g.place_string("main")});
    EXPECT_EQ(g.console(), "f.c:12: main: Assertion 'x > 0' failed.\n");
}

TEST(Runtime, NewAlignsAsAskedAndTheNothrowFormsGiveNull) {
    Guest g;
    const uint32_t nothrow = g.reserve(4);
    for (const uint32_t alignment : {8u, 16u, 64u, 4096u}) {
        const uint32_t block = g.call("_ZnwjSt11align_val_t", {24, alignment});
        EXPECT_EQ(block % alignment, 0u) << alignment;
        g.write(block, std::string(24, 'x'));
        EXPECT_EQ(g.call("_ZnajSt11align_val_tRKSt9nothrow_t", {1, alignment, nothrow}) % alignment,
                  0u);
    }
    EXPECT_NE(g.call("_Znwj", {0}), g.call("_Znwj", {0})) << "each new is its own object";
    EXPECT_EQ(g.call("_ZnwjRKSt9nothrow_t", {0x200000, nothrow}), 0u);
    EXPECT_EQ(g.call("_ZnwjSt11align_val_tRKSt9nothrow_t", {8, 24, nothrow}), 0u);
    EXPECT_EQ(g.call("_ZnajSt11align_val_tRKSt9nothrow_t", {0xfffffff0u, 64, nothrow}), 0u);
    EXPECT_EQ(g.call("__cxa_atexit", {g.symbol("abort"), 0, 0}), 0u);
    EXPECT_FALSE(g.exit_status().has_value());
}

}  // namespace
}  // namespace kivos::test
