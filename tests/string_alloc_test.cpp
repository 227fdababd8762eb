// Allocating copies, case-insensitive comparison and the tokenizer, run inside the kivos machine.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "harness/guest.h"
#include "harness/guest_abi.h"
#include "harness/string_arg.h"

namespace kivos::test {
namespace {

using namespace std::string_literals;

uint32_t used(Guest &g) {
    return g.read32(g.symbol("g_heap_used"));
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

TEST(AllocatingStrings, ExhaustedArenaChangesNothing) {
    const std::vector<CopyCase> cases = {{"strdup", text("abc"), 0, std::nullopt},
                                         {"strdup", raw(16), 0, std::nullopt},
                                         {"strndup", text("abc"), 2, std::nullopt},
                                         {"strndup", text("x"), 0, std::nullopt}};
    Guest g;
    ASSERT_NE(g.call("malloc", {k_arena_size - 4}), 0u);
    for (const CopyCase &c : cases) {
        SCOPED_TRACE(c.function + " " + c.s.label() + " " + std::to_string(c.n));
        const uint32_t s = c.s.place(g);
        g.write32(g.symbol("errno"), 0);
        EXPECT_EQ(g.call(c.function, {s, c.n}), 0u);
        EXPECT_EQ(g.read32(g.symbol("errno")), k_enomem);
        EXPECT_EQ(used(g), k_arena_size);
        EXPECT_EQ(g.read(s, c.s.bytes.size()), c.s.bytes) << "the string is left alone";
    }
    EXPECT_TRUE(g.trace().empty());
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

TEST(Tokenizer, Sequences) {
    struct Case {
        std::string input;
        std::optional<std::string> delim;  // nullopt: a null set
        std::vector<std::string> tokens;   // then null, and null again
        std::string buffer_after;
    };
    const std::vector<Case> cases = {
        {",,a,,b,", ",", {"a", "b"}, ",,a\0,b\0"s},
        {"abc", std::nullopt, {"abc"}, "abc"},
        {"abc", "", {"abc"}, "abc"},
        {",,,", ",", {}, ",,,"},
        {"", ",", {}, ""},
        {"a b;c", " ;", {"a", "b", "c"}, "a\0b\0c"s},
    };
    Guest g;
    for (const Case &c : cases) {
        SCOPED_TRACE("'" + c.input + "'");
        const uint32_t buffer = g.place_at_edge(c.input + '\0');
        const uint32_t delim = c.delim ? g.place_at_edge(*c.delim + '\0') : 0;
        std::vector<std::string> tokens;
        for (uint32_t s = buffer;; s = 0) {
            const uint32_t token = g.call("strtok", {s, delim});
            if (token == 0) break;
            ASSERT_GE(token, buffer);
            ASSERT_LT(token, buffer + c.input.size());
            tokens.push_back(g.read_string(token));
        }
        EXPECT_EQ(tokens, c.tokens);
        EXPECT_EQ(g.call("strtok", {0, delim}), 0u) << "idle after the end";
        EXPECT_EQ(g.read(buffer, c.input.size()), c.buffer_after);
    }
}

TEST(Tokenizer, IdleOnlyWhenATokenEndsAtTheTerminator) {
    Guest g;
    const uint32_t comma = g.place_string(",");
    EXPECT_EQ(g.call("strtok", {0, comma}), 0u) << "nothing given yet";
    // "a" ends at the terminator: the tokenizer goes idle and never looks past it.
    const uint32_t ended = g.place("a\0b\0"s);
    EXPECT_EQ(g.call("strtok", {ended, comma}), ended);
    EXPECT_EQ(g.call("strtok", {0, comma}), 0u);
    // "a," ends at a delimiter: the next call resumes right after it, at what is there then.
    const uint32_t open = g.place("a,\0\0"s);
    EXPECT_EQ(g.call("strtok", {open, comma}), open);
    g.write(open + 2, "b");
    EXPECT_EQ(g.call("strtok", {0, comma}), open + 2);
    // A new string starts over whatever was in progress.
    const uint32_t first = g.place_string("x,y");
    const uint32_t second = g.place_string("z");
    EXPECT_EQ(g.call("strtok", {first, comma}), first);
    EXPECT_EQ(g.call("strtok", {second, comma}), second);
    EXPECT_EQ(g.call("strtok", {0, comma}), 0u);
}

}  // namespace
}  // namespace kivos::test
