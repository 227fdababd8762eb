// String and memory routines, run inside the kivos machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/guest.h"

namespace kivos::test {
namespace {

using namespace std::string_literals;

int32_t as_int(uint32_t eax) {
    return static_cast<int32_t>(eax);
}

// A string argument: text placed right before an unmapped page (so reading
// past its NUL faults), or a raw pointer value that must never be read.
struct Str {
    std::string text;
    uint32_t raw = 0;
    bool is_raw = false;
};
Str text(std::string s) {
    return {std::move(s)};
}
Str raw(uint32_t value) {
    return {"", value, true};
}

uint32_t place(Guest &g, const Str &s) {
    return s.is_raw ? s.raw : g.place_at_edge(s.text + '\0');
}

TEST(StringRoutines, LengthsNeverReadLowPointers) {
    struct Case {
        Str s;
        uint32_t strlen_result;
    };
    const std::vector<Case> cases = {
        {text(""), 0}, {text("abc"), 3}, {raw(0), 0}, {raw(16), 0}, {raw(4095), 0},
    };
    Guest g;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.s.is_raw ? std::to_string(c.s.raw) : c.s.text);
        EXPECT_EQ(g.call("strlen", {place(g, c.s)}), c.strlen_result);
    }
    // strnlen stops at maxlen without reading further: the bytes sit before an unmapped page.
    EXPECT_EQ(g.call("strnlen", {g.place_at_edge("abc"), 3}), 3u);
    EXPECT_EQ(g.call("strnlen", {g.place_at_edge("abcdef"), 3}), 3u);
    EXPECT_EQ(g.call("strnlen", {g.place_at_edge("ab\0"s), 10}), 2u);
    EXPECT_EQ(g.call("strnlen", {16, 5}), 0u);
    EXPECT_EQ(g.call("strnlen", {g.place_at_edge("x"), 0}), 0u);
}

TEST(StringRoutines, ComparisonsGiveByteDifferences) {
    struct Case {
        std::string function;
        Str a;
        Str b;
        uint32_t n;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {"strcmp", raw(0), raw(0), 0, 0},
        {"strcmp", raw(0), text(""), 0, -1},
        {"strcmp", text(""), raw(0), 0, 1},
        {"strcmp", raw(16), text("abc"), 0, -1},
        {"strcmp", text("abc"), raw(4095), 0, 1},
        {"strcmp", text("a"), text("c"), 0, -2},
        {"strcmp", text("ab"), text("a"), 0, 98},
        {"strcmp", text("a"), text("ab"), 0, -98},
        {"strcmp", text("\xff"), text("a"), 0, 158},
        {"strcmp", text("same"), text("same"), 0, 0},
        {"strncmp", raw(0), raw(16), 0, 0},
        {"strncmp", text("abc"), text("abd"), 2, 0},
        {"strncmp", text("abc"), text("abd"), 3, -1},
        {"strncmp", text("abc"), text("abc"), 100, 0},
        {"strncmp", raw(0), text("x"), 1, -1},
        {"strncmp", text("x"), raw(8), 1, 1},
        {"strncmp", text("\x80"), text("\x01"), 1, 127},
    };
    Guest g;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function + " '" + c.a.text + "' '" + c.b.text + "' " + std::to_string(c.n));
        std::vector<uint32_t> args = {place(g, c.a), place(g, c.b)};
        if (c.function == "strncmp") args.push_back(c.n);
        EXPECT_EQ(as_int(g.call(c.function, args)), c.expected);
    }
}

TEST(StringRoutines, SamePointerComparesEqualWithoutReading) {
    Guest g;
    EXPECT_EQ(g.call("strcmp", {16, 16}), 0u);
    EXPECT_EQ(g.call("strncmp", {24, 24, 5}), 0u);
}

// Copies into a 12-byte buffer of 0xEE canaries; `expected` is the whole buffer afterwards.
TEST(StringRoutines, CopiesAndAppendsWriteExactlyTheirBytes) {
    struct Case {
        std::string function;
        std::string dst_before;  // placed in the buffer (with its NUL) before the call
        Str src;
        int n;  // -1: the routine takes no count
        std::string expected;
    };
    const std::string canary(12, '\xee');
    auto with = [&](std::string head) { return head + canary.substr(head.size()); };
    const std::vector<Case> cases = {
        {"strcpy", "", text("abc"), -1, with("abc\0"s)},
        {"strcpy", "", raw(0), -1, with("\0"s)},
        {"strncpy", "", text("ab"), 5, with("ab\0\0\0"s)},
        {"strncpy", "", text("abcdef"), 3, with("abc")},
        {"strncpy", "", raw(0), 4, with("\0\0\0\0"s)},
        {"strncpy", "", text("abc"), 0, canary},
        {"strcat", "ab", text("cd"), -1, with("abcd\0"s)},
        {"strcat", "ab", raw(0), -1, with("ab\0"s)},
        {"strncat", "ab", text("cdef"), 2, with("abcd\0"s)},
        {"strncat", "ab", text("cd"), 9, with("abcd\0"s)},
        {"strncat", "ab", raw(0), 3, with("ab\0"s)},
        {"strncat", "ab", text("cd"), 0, with("ab\0"s)},
    };
    Guest g;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function + " onto '" + c.dst_before + "' n " + std::to_string(c.n));
        const uint32_t dst = g.place(c.dst_before.empty() ? canary : with(c.dst_before + '\0'));
        std::vector<uint32_t> args = {dst, place(g, c.src)};
        if (c.n >= 0) args.push_back(static_cast<uint32_t>(c.n));
        EXPECT_EQ(g.call(c.function, args), dst);
        EXPECT_EQ(g.read(dst, 12), c.expected);
    }
    for (const char *function : {"strcpy", "strncpy", "strcat", "strncat"}) {
        EXPECT_EQ(g.call(function, {0, g.place_string("abc"), 3}), 0u) << function;
    }
}

TEST(StringRoutines, SearchesReturnPositions) {
    struct Case {
        std::string function;
        Str s;
        Str needle;  // strstr only
        uint32_t c;
        int expected_offset;  // -1: null
    };
    const std::vector<Case> cases = {
        {"strchr", text("abc"), {}, 'b', 1},
        {"strchr", text("abc"), {}, 0, 3},
        {"strchr", text("xa"), {}, 0x161, 1},
        {"strchr", text("abc"), {}, 'z', -1},
        {"strchr", raw(0), {}, 'a', -1},
        {"strrchr", text("abca"), {}, 'a', 3},
        {"strrchr", text(""), {}, 0, 0},
        {"strrchr", text("abc"), {}, 'z', -1},
        {"strrchr", raw(0), {}, 0, -1},
        {"strstr", text("aab"), text("ab"), 0, 1},
        {"strstr", text("ab"), text("abc"), 0, -1},
        {"strstr", text(""), text(""), 0, 0},
        {"strstr", text("abc"), text(""), 0, 0},
        {"strstr", text("abababc"), text("ababc"), 0, 2},
        {"strstr", raw(0), text("a"), 0, -1},
        {"strstr", text("a"), raw(0), 0, -1},
    };
    Guest g;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function + " '" + c.s.text + "' '" + c.needle.text + "' " +
                     std::to_string(c.c));
        const uint32_t s = place(g, c.s);
        const uint32_t second = c.function == "strstr" ? place(g, c.needle) : c.c;
        const uint32_t result = g.call(c.function, {s, second});
        EXPECT_EQ(result,
                  c.expected_offset < 0 ? 0u : s + static_cast<uint32_t>(c.expected_offset));
    }
}

TEST(MemoryRoutines, CopyMoveFillCompare) {
    Guest g;
    const uint32_t p = g.place("123456789");
    EXPECT_EQ(g.call("memmove", {p + 1, p, 4}), p + 1);
    EXPECT_EQ(g.read(p, 9), "112346789");
    EXPECT_EQ(g.call("memmove", {p, p + 1, 4}), p);
    EXPECT_EQ(g.read(p, 9), "123446789");
    EXPECT_EQ(g.call("memmove", {p, p, 9}), p);

    const uint32_t q = g.place("abcdef");
    EXPECT_EQ(g.call("memcpy", {q, g.place("XYZ"), 3}), q);
    EXPECT_EQ(g.read(q, 6), "XYZdef");
    EXPECT_EQ(g.call("memcpy", {q, 0, 0}), q) << "a count of 0 reads nothing";

    EXPECT_EQ(g.call("memset", {q, 0x141, 4}), q);
    EXPECT_EQ(g.read(q, 6), "AAAAef");
    EXPECT_EQ(g.call("memset", {0, 'x', 0}), 0u);

    EXPECT_EQ(as_int(g.call("memcmp", {g.place("\x80"), g.place("\x01"), 1})), 127);
    EXPECT_EQ(as_int(g.call("memcmp", {g.place("ab\0c"s), g.place("ab\0d"s), 4})), -1);
    EXPECT_EQ(g.call("memcmp", {0, 16, 0}), 0u);
    EXPECT_TRUE(g.trace().empty());
}

}  // namespace
}  // namespace kivos::test
