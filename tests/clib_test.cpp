// The C pieces a command reaches for first, and the C++ runtime under new and delete,
// called inside the machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "harness/guest.h"
#include "harness/string_arg.h"

namespace kivos::test {
namespace {

// The host's C locale is the oracle for ASCII; every other value has no class and no case.
TEST(Ctype, EveryClassAndCaseMatchesAsciiAndNothingElse) {
    using Host = int (*)(int);
    const std::vector<std::pair<const char *, Host>> functions = {
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
            EXPECT_EQ(maps ? got : got != 0, maps ? expected : expected != 0)
                << name << "(" << c << ")";
        }
    }
}

TEST(StringScan, FindsBytesAndSetMembersWithoutReadingPastTheEnd) {
    struct Case {
        const char *function;
        StrArg s, set;
        int32_t expected;  // an offset into s, or -1 for null
    };
    const std::vector<Case> cases = {
        {"strspn", text("aabxa"), text("ab"), 3},
        {"strspn", text("abc"), text(""), 0},
        {"strspn", text("\xe9\xe9z"), text("\xe9"), 2},
        {"strspn", raw(0), text("a"), 0},
        {"strspn", text("aa"), raw(16), 0},
        {"strspn", text("aa"), text("a"), 2},
        {"strcspn", text("abc,d"), text(",;"), 3},
        {"strcspn", text("abc"), raw(0), 3},
        {"strcspn", text("abc"), text(""), 3},
        {"strcspn", raw(4095), text("a"), 0},
        {"strpbrk", text("key=va=l"), text("=:"), 3},
        {"strpbrk", text("key"), text("=:"), -1},
        {"strpbrk", text("key"), raw(0), -1},
        {"strpbrk", raw(0), text("k"), -1},
    };
    Guest g;
    for (const Case &c : cases) {
        const uint32_t s = c.s.place(g);
        const uint32_t result = g.call(c.function, {s, c.set.place(g)});
        const std::string what = std::string(c.function) + " " + c.s.label() + " " + c.set.label();
        if (std::string(c.function) == "strpbrk") {
            EXPECT_EQ(result, c.expected < 0 ? 0 : s + c.expected) << what;
        } else {
            EXPECT_EQ(result, static_cast<uint32_t>(c.expected)) << what;
        }
    }

    const uint32_t bytes = g.place_at_edge(std::string("ab\0\xff", 4));
    EXPECT_EQ(g.call("memchr", {bytes, 0xff, 4}), bytes + 3) << "past a NUL, by its low byte";
    EXPECT_EQ(g.call("memchr", {bytes, 0x100, 4}), bytes + 2);
    EXPECT_EQ(g.call("memchr", {bytes, 'c', 4}), 0u);
    EXPECT_EQ(g.call("memchr", {bytes, 'a', 0}), 0u);
    EXPECT_EQ(g.call("memchr", {0, 'a', 8}), 0u);
}

constexpr uint32_t k_record = 8;

// Fixed-width string records, sorted with strcmp as the comparator.
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
            const std::vector<std::string> words = numbered(n, order);
            const uint32_t base = place_records(g, words);
            g.call("qsort", {base, n, k_record, compare});
            EXPECT_EQ(read_records(g, base, n), numbered(n, order == "equal" ? order : "sorted"))
                << order;
            cost[n == 1024] = g.instructions();
        }
        // Four times the elements: n log n costs five times as much, n^2 sixteen times.
        EXPECT_LT(cost[1], 8 * cost[0]) << order;
    }

    const uint32_t pair = place_records(g, {"pear", "fig"});
    g.call("qsort", {pair, 2, k_record, compare});
    EXPECT_EQ(read_records(g, pair, 2), (std::vector<std::string>{"fig", "pear"}));

    const std::vector<std::string> mixed = {"pear", "fig", "apple", "fig", "kiwi"};
    const uint32_t base = place_records(g, mixed);
    for (const std::vector<uint32_t> &refused :
         std::vector<std::vector<uint32_t>>{{0, 5, k_record, compare},
                                            {base, 5, 0, compare},
                                            {base, 5, k_record, 0},
                                            {base, 0x20000000, k_record, compare},
                                            {base, 1, k_record, compare}}) {
        g.call("qsort", refused);
        EXPECT_EQ(read_records(g, base, 5), mixed);
    }
}

TEST(Bsearch, FindsEveryElementAndNothingBetween) {
    Guest g;
    const uint32_t compare = g.symbol("strcmp");
    const std::vector<std::string> words = {"b", "d", "f", "h"};
    const uint32_t base = place_records(g, words);
    struct Case {
        std::string key;
        uint32_t count;
        int found;  // index, or -1
    };
    const std::vector<Case> cases = {{"b", 4, 0},  {"d", 4, 1},  {"f", 4, 2},  {"h", 4, 3},
                                     {"a", 4, -1}, {"c", 4, -1}, {"i", 4, -1}, {"b", 0, -1},
                                     {"b", 1, 0},  {"d", 1, -1}};
    for (const Case &c : cases) {
        const uint32_t result =
            g.call("bsearch", {g.place_string(c.key), base, c.count, k_record, compare});
        EXPECT_EQ(result, c.found < 0 ? 0 : base + c.found * k_record) << c.key << " " << c.count;
    }
    EXPECT_EQ(g.call("bsearch", {g.place_string("b"), 0, 4, k_record, compare}), 0u);
    EXPECT_EQ(g.call("bsearch", {g.place_string("b"), base, 4, k_record, 0}), 0u);
}

TEST(Div, QuotientTowardZeroAndNoTrapOnTheTwoRefusedDivisions) {
    struct Case {
        int32_t numerator, denominator, quotient, remainder;
    };
    const std::vector<Case> cases = {{7, 2, 3, 1},
                                     {-7, 2, -3, -1},
                                     {7, -2, -3, 1},
                                     {-7, -2, 3, -1},
                                     {5, 0, 0, 5},
                                     {INT32_MIN, -1, INT32_MIN, 0},
                                     {INT32_MIN, 1, INT32_MIN, 0},
                                     {0, -3, 0, 0}};
    Guest g;
    for (const char *function : {"div", "ldiv"}) {
        for (const Case &c : cases) {
            // The result comes back through a hidden pointer to the caller's struct.
            const uint32_t result = g.reserve(8);
            g.call(function, {result, static_cast<uint32_t>(c.numerator),
                              static_cast<uint32_t>(c.denominator)});
            EXPECT_EQ(static_cast<int32_t>(g.read32(result)), c.quotient)
                << function << c.numerator;
            EXPECT_EQ(static_cast<int32_t>(g.read32(result + 4)), c.remainder);
        }
    }
}

TEST(Runtime, EndsAProgramThatCannotGoOnWithOneLine) {
    struct Case {
        const char *function;
        std::vector<uint32_t> args;
        std::string console;
    };
    const std::string exhausted = "operator new: out of memory: the heap arena is exhausted\n";
    const std::vector<Case> cases = {
        {"_Znwj", {0x200000}, exhausted},
        {"_Znaj", {0xffffffffu}, exhausted},
        {"_ZnwjSt11align_val_t", {16, 24}, exhausted},  // 24 is no alignment
        {"__cxa_pure_virtual", {}, "pure virtual function called\n"},
    };
    for (const Case &c : cases) {
        Guest g;
        g.call(c.function, c.args);
        EXPECT_EQ(g.exit_status(), 1) << c.function;
        EXPECT_EQ(g.console(), c.console) << c.function;
    }
}

TEST(Assert, SaysWhereAndWhatFailedThenAborts) {
    struct Case {
        uint32_t line;
        std::optional<std::string> function;
        std::string console;
    };
    const std::vector<Case> cases = {
        {12, "main", "f.c:12: main: Assertion 'x > 0' failed.\n"},
        {4294967295u, "f", "f.c:4294967295: f: Assertion 'x > 0' failed.\n"},
        {0, std::nullopt, "f.c:0: : Assertion 'x > 0' failed.\n"},
    };
    for (const Case &c : cases) {
        Guest g;
        const uint32_t function = c.function ? g.place_string(*c.function) : 0;
        g.call("__assert_fail", {g.place_string("x > 0"), g.place_string("f.c"), c.line, function});
        EXPECT_EQ(g.exit_status(), 1);
        EXPECT_EQ(g.console(), c.console);
    }
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
    EXPECT_EQ(g.call("_ZnwjSt11align_val_tRKSt9nothrow_t", {8, 24, nothrow}), 0u)
        << "not a power of 2";
    EXPECT_EQ(g.call("_ZnajSt11align_val_tRKSt9nothrow_t", {0xfffffff0u, 64, nothrow}), 0u);
    EXPECT_EQ(g.call("__cxa_atexit", {g.symbol("abort"), 0, 0}), 0u);
    EXPECT_FALSE(g.exit_status().has_value());
}

}  // namespace
}  // namespace kivos::test
