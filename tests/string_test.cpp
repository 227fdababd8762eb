// String and memory routines, run inside the kivos machine.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "harness/guest.h"
#include "harness/string_arg.h"

namespace kivos::test {
namespace {

using namespace std::string_literals;

// Low pointers are never read; the same pointer twice compares equal without being read.
TEST(StringRoutines, LengthsAndComparisons) {
    expect_string_calls({
        {"strlen", text(""), std::nullopt, 0, 0},
        {"strlen", text("abc"), std::nullopt, 0, 3},
        {"strlen", raw(0), std::nullopt, 0, 0},
        {"strlen", raw(4095), std::nullopt, 0, 0},
        {"strnlen", unterminated("abc"), std::nullopt, 3, 3},
        {"strnlen", text("ab"), std::nullopt, 10, 2},
        {"strnlen", raw(16), std::nullopt, 5, 0},
        {"strnlen", unterminated("x"), std::nullopt, 0, 0},
        {"strcmp", raw(16), raw(16), 0, 0},
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
        {"strncmp", raw(24), raw(24), 5, 0},
        {"strncmp", text("abc"), text("abd"), 2, 0},
        {"strncmp", text("abc"), text("abd"), 3, -1},
        {"strncmp", text("abc"), text("abc"), 100, 0},
        {"strncmp", raw(0), text("x"), 1, -1},
        {"strncmp", text("x"), raw(8), 1, 1},
        {"strncmp", text("\x80"), text("\x01"), 1, 127},
    });
}

// Copies into a 12-byte buffer of 0xEE canaries; `expected` is the whole buffer afterwards.
TEST(StringRoutines, CopiesAndAppendsWriteExactlyTheirBytes) {
    struct Case {
        std::string function;
        std::string dst_before;  // placed in the buffer (with its NUL) before the call
        StrArg src;
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
        std::vector<uint32_t> args = {dst, c.src.place(g)};
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
        StrArg s;
        std::optional<StrArg> needle;  // strstr's; the others look for `c`
        uint32_t c;
        int offset;  // -1: null
    };
    const std::vector<Case> cases = {
        {"strchr", text("abc"), std::nullopt, 'b', 1},
        {"strchr", text("abc"), std::nullopt, 0, 3},
        {"strchr", text("xa"), std::nullopt, 0x161, 1},
        {"strchr", text("abc"), std::nullopt, 'z', -1},
        {"strchr", raw(0), std::nullopt, 'a', -1},
        {"strrchr", text("abca"), std::nullopt, 'a', 3},
        {"strrchr", text(""), std::nullopt, 0, 0},
        {"strrchr", text("abc"), std::nullopt, 'z', -1},
        {"strrchr", raw(0), std::nullopt, 0, -1},
        {"strstr", text("aab"), text("ab"), 0, 1},
        {"strstr", text("ab"), text("abc"), 0, -1},
        {"strstr", text("abc"), text(""), 0, 0},
        {"strstr", text("abababc"), text("ababc"), 0, 2},
        {"strstr", raw(0), text("a"), 0, -1},
        {"strstr", text("a"), raw(0), 0, -1},
    };
    Guest g;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function + " " + c.s.label() + " " +
                     (c.needle ? c.needle->label() : std::to_string(c.c)));
        const uint32_t s = c.s.place(g);
        EXPECT_EQ(g.call(c.function, {s, c.needle ? c.needle->place(g) : c.c}),
                  c.offset < 0 ? 0u : s + static_cast<uint32_t>(c.offset));
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

    EXPECT_EQ(static_cast<int32_t>(g.call("memcmp", {g.place("\x80"), g.place("\x01"), 1})), 127);
    EXPECT_EQ(static_cast<int32_t>(g.call("memcmp", {g.place("ab\0c"s), g.place("ab\0d"s), 4})),
              -1);
    EXPECT_EQ(g.call("memcmp", {0, 16, 0}), 0u);
    EXPECT_TRUE(g.trace().empty());
}

}  // namespace
}  // namespace kivos::test
