// Ending the process, the stubs, absolute values, the generator and the error texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/guest.h"

namespace kivos::test {
namespace {

constexpr uint32_t k_exit_call = 2;

int32_t as_int(uint32_t eax) { return static_cast<int32_t>(eax); }

TEST(ProcessServices, ExitAndAbortEndWithTheirStatusAndNothingElse) {
    struct Case {
        std::string function;
        std::vector<uint32_t> args;
        int status;
    };
    const std::vector<Case> cases = {
        {"exit", {3}, 3},
        {"exit", {0}, 0},
        {"abort", {}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function);
        Guest g;
        // A handler that would change the status if exit ran it.
        EXPECT_EQ(g.call("atexit", {g.symbol("abort")}), 0u);
        g.call(c.function, c.args);
        EXPECT_EQ(g.exit_status(), c.status);
        ASSERT_EQ(g.trace().size(), 1u);
        EXPECT_EQ(g.trace()[0].number, k_exit_call);
        EXPECT_EQ(as_int(g.trace()[0].args[0]), c.status);
    }
}

TEST(ProcessServices, StubsKeepAndReadNothing) {
    Guest g;
    EXPECT_EQ(g.call("atexit", {0}), 0u);
    // Low pointers sit on the unmapped page: reading one would fault.
    for (const uint32_t name : {0u, 16u, g.place_string("PATH")}) {
        EXPECT_EQ(g.call("getenv", {name}), 0u) << name;
    }
    EXPECT_TRUE(g.trace().empty());
}

TEST(ProcessServices, AbsoluteValues) {
    struct Case {
        int32_t x;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {-5, 5}, {0, 0}, {7, 7}, {-1, 1}, {INT32_MAX, INT32_MAX},
        {-INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MIN},
    };
    Guest g;
    for (const Case &c : cases) {
        for (const char *function : {"abs", "labs"}) {
            EXPECT_EQ(as_int(g.call(function, {static_cast<uint32_t>(c.x)})), c.expected)
                << function << "(" << c.x << ")";
        }
    }
}

TEST(ProcessServices, ErrorTexts) {
    struct Case {
        int32_t code;
        std::string text;
    };
    const std::vector<Case> cases = {
        {0, "ok"},     {2, "no such file"}, {22, "invalid argument"}, {38, "not implemented"},
        {12, "error"}, {1, "error"},        {-2, "error"},            {-22, "error"},
        {1000, "error"}, {INT32_MIN, "error"},
    };
    Guest g;
    for (const Case &c : cases) {
        EXPECT_EQ(g.read_string(g.call("strerror", {static_cast<uint32_t>(c.code)})), c.text)
            << c.code;
    }
    // The same text each time, shared by every caller.
    EXPECT_EQ(g.call("strerror", {0}), g.call("strerror", {0}));
}

std::vector<uint32_t> draws(Guest &g, size_t count) {
    std::vector<uint32_t> values;
    for (size_t i = 0; i < count; ++i) values.push_back(g.call("rand", {}));
    return values;
}

TEST(ProcessServices, RandAfterSrand) {
    struct Case {
        uint32_t seed;
        std::vector<uint32_t> expected;
    };
    const std::vector<Case> cases = {
        {1, {16838, 5758, 10113, 17515, 31051}},
        {0, {16838, 5758, 10113, 17515, 31051}},
        {42, {19081, 17033, 15269}},
    };
    Guest g;
    for (const Case &c : cases) {
        g.call("srand", {c.seed});
        EXPECT_EQ(draws(g, c.expected.size()), c.expected) << "seed " << c.seed;
        EXPECT_EQ(g.read32(g.symbol("g_rand_seeded")), 1u);
    }
}

