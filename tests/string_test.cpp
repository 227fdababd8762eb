// String and memory routines, allocating copies, case-insensitive comparison and the tokenizer,
// run inside the kivos machine.
#include <gtest/gtest.h>

#include "harness/guest_abi.h"
#include "harness/string_arg.h"

namespace kivos::test {
namespace {

using namespace std::string_literals;

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
        {"strncat", "ab", text("cd"), 1, with("abc\0"s)},
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
        {"strstr", text("xbc"), text("abc"), 0, -1},
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

uint32_t used(const Guest &g) {
    return g.read_symbol("g_heap_used");
}

// strdup and strndup, with the count strndup takes.
struct CopyCase {
    std::string function;
    StrArg s;
    uint32_t n;
    std::optional<std::string> copy;  // nullopt: null, nothing allocated
};

TEST(AllocatingStrings, CopiesIntoBlocksOfExactlyTheirLength) {
    const std::vector<CopyCase> cases = {
        {"strdup", text("abc"), 0, "abc"},
        {"strdup", text(""), 0, ""},
        {"strdup", raw(0), 0, std::nullopt},
        {"strdup", raw(16), 0, ""},
        {"strndup", text("abcdef"), 3, "abc"},
        {"strndup", text("ab"), 10, "ab"},
        {"strndup", unterminated("abc"), 3, "abc"},
        {"strndup", unterminated("x"), 0, ""},
        {"strndup", raw(16), 5, ""},
        {"strndup", raw(0), 5, std::nullopt},
        {"strndup", text("abc"), 0xffffffff, "abc"},
        {"strndup", unterminated("abcd\0xyz"s), 9, "abcd"},
    };
    Guest g;
    const uint32_t heap = g.symbol("g_heap");
    for (const CopyCase &c : cases) {
        SCOPED_TRACE(c.function + " " + c.s.label() + " " + std::to_string(c.n));
        const uint32_t before = used(g);
        const uint32_t copy = g.call(c.function, {c.s.place(g), c.n});
        if (!c.copy) {
            EXPECT_EQ(copy, 0u);
            EXPECT_EQ(used(g), before);
            continue;
        }
        EXPECT_EQ(copy, heap + before + 4) << "a fresh block";
        EXPECT_EQ(g.read32(copy - 4), c.copy->size() + 1) << "the size asked of the heap";
        EXPECT_EQ(g.read(copy, c.copy->size() + 1), *c.copy + '\0');
    }
    EXPECT_EQ(g.read32(g.symbol("errno")), 0u);
}

// Letters fold down, so 'A' meets the bytes between 'Z' and 'a' as 'a'; low pointers are absent
// like null, and two absent strings are equal.
TEST(AllocatingStrings, CaseInsensitiveComparisonsGiveFoldedDifferences) {
    expect_string_calls({
        {"strcasecmp", text("HeLLo"), text("hello"), 0, 0},
        {"strcasecmp", text("abc"), text("ABD"), 0, -1},
        {"strcasecmp", text("A"), text("_"), 0, 2},
        {"strcasecmp", text("\xc4"), text("\xe4"), 0, -32},
        {"strcasecmp", text("ab"), text("A"), 0, 'b'},
        {"strcasecmp", text("@"), text("`"), 0, 0x40 - 0x60},
        {"strcasecmp", text("["), text("{"), 0, 0x5b - 0x7b},
        {"strcasecmp", raw(0), text("x"), 0, -1},
        {"strcasecmp", text("x"), raw(4095), 0, 1},
        {"strcasecmp", raw(16), raw(32), 0, 0},
        {"strncasecmp", text("abcX"), text("ABCy"), 3, 0},
        {"strncasecmp", text("abcX"), text("ABCy"), 4, 'x' - 'y'},
        {"strncasecmp", text("Ab"), text("aB"), 100, 0},
        {"strncasecmp", text("a"), text("ab"), 5, -'b'},
        {"strncasecmp", raw(0), text("x"), 0, 0},
        {"strncasecmp", raw(0), text("x"), 1, -1},
        {"strncasecmp", text("x"), raw(8), 1, 1},
        {"strncasecmp", raw(8), raw(24), 1, 0},
    });
}

// The strtok fuzz target compares whole sequences with the host's; it cannot make a first call
// without a string, nor change the string between calls.
TEST(Tokenizer, StartsIdleAndResumesRightAfterTheDelimiter) {
    Guest g;
    const uint32_t comma = g.place_string(",");
    EXPECT_EQ(g.call("strtok", {0, comma}), 0u) << "nothing given yet";
    const uint32_t open = g.place("a,\0\0"s);
    EXPECT_EQ(g.call("strtok", {open, comma}), open);
    g.write(open + 2, "b");
    EXPECT_EQ(g.call("strtok", {0, comma}), open + 2);
}

}  // namespace
}  // namespace kivos::test
