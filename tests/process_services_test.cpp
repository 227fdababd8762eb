// Ending the process, the stubs, absolute values, the generator and the error texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/guest.h"
#include "harness/guest_abi.h"

namespace kivos::test {
namespace {

int32_t as_int(uint32_t eax) {
    return static_cast<int32_t>(eax);
}

TEST(ProcessServices, ExitAndAbortEndWithTheirStatusAndNothingElse) {
    struct Case {
        std::string function;
        std::vector<uint32_t> args;
        int status;
    };
    const std::vector<Case> cases = {
        {"exit", {3}, 3}, {"exit", {0}, 0}, {"abort", {}, 1}, {"_exit", {7}, 7}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function);
        Guest g;
        // A handler that would change the status if exit ran it.
        EXPECT_EQ(g.call("atexit", {g.symbol("abort")}), 0u);
        g.call(c.function, c.args);
        EXPECT_EQ(g.exit_status(), c.status);
        ASSERT_EQ(g.trace().size(), 1u);
        EXPECT_EQ(g.trace()[0].number, KIVOS_SYS__exit);
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
    const std::vector<std::pair<int32_t, int32_t>> cases = {{-5, 5},
                                                            {0, 0},
                                                            {7, 7},
                                                            {INT32_MAX, INT32_MAX},
                                                            {-INT32_MAX, INT32_MAX},
                                                            {INT32_MIN, INT32_MIN}};
    Guest g;
    for (const auto &[x, expected] : cases) {
        for (const char *function : {"abs", "labs"}) {
            EXPECT_EQ(as_int(g.call(function, {static_cast<uint32_t>(x)})), expected)
                << function << "(" << x << ")";
        }
    }
}

TEST(ProcessServices, ErrorTexts) {
    const std::vector<std::pair<int32_t, std::string>> cases = {{0, "ok"},
                                                                {2, "no such file"},
                                                                {22, "invalid argument"},
                                                                {38, "not implemented"},
                                                                {12, "error"},
                                                                {1, "error"},
                                                                {-2, "error"},
                                                                {1000, "error"},
                                                                {INT32_MIN, "error"}};
    Guest g;
    for (const auto &[code, text] : cases) {
        EXPECT_EQ(g.read_string(g.call("strerror", {static_cast<uint32_t>(code)})), text) << code;
    }
    // The same text each time, shared by every caller.
    EXPECT_EQ(g.call("strerror", {0}), g.call("strerror", {0}));
}

TEST(ProcessServices, RandAfterSrand) {
    const std::vector<std::pair<uint32_t, std::vector<uint32_t>>> cases = {
        {1, {16838, 5758, 10113, 17515, 31051}},
        {0, {16838, 5758, 10113, 17515, 31051}},
        {42, {19081, 17033, 15269}}};
    Guest g;
    for (const auto &[seed, expected] : cases) {
        g.call("srand", {seed});
        std::vector<uint32_t> draws;
        for (size_t i = 0; i < expected.size(); ++i) draws.push_back(g.call("rand"));
        EXPECT_EQ(draws, expected) << "seed " << seed;
        EXPECT_EQ(g.read32(g.symbol("g_rand_seeded")), 1u);
    }
}

// The state that the first rand without srand stores, with the counter pinned to `tsc`.
uint32_t unseeded_state(uint64_t tsc) {
    GuestOptions options;
    options.pinned_tsc = tsc;
    Guest g(options);
    const uint32_t seeded = g.symbol("g_rand_seeded");
    EXPECT_EQ(g.read32(seeded), 0u);
    const uint32_t first = g.call("rand");
    const uint32_t state = g.read32(g.symbol("g_rand_state"));
    EXPECT_EQ(first, (state >> 16) & 0x7fff);
    EXPECT_EQ(g.read32(seeded), 1u);
    // Later calls continue from the stored state without reading the counter again.
    EXPECT_EQ(g.call("rand"), ((state * 1103515245u + 12345u) >> 16) & 0x7fff);
    EXPECT_EQ(g.tsc_reads(), 1u);
    g.call("srand", {1});
    EXPECT_EQ(g.call("rand"), 16838u);
    return state;
}

uint32_t inverse(uint32_t odd) {
    uint32_t x = odd;  // right in 3 bits; each step doubles them
    for (int i = 0; i < 4; ++i) x *= 2 - odd * x;
    return x;
}

// Undoes the lowbias32 mix.
uint32_t unmix(uint32_t x) {
    x ^= x >> 16;
    x *= inverse(0x846CA68B);
    x ^= (x >> 15) ^ (x >> 30);
    x *= inverse(0x7FEB352D);
    return x ^ (x >> 16);
}

TEST(ProcessServices, UnseededSeedMixesCounterArenaAndStack) {
    const uint32_t heap_used = Guest().symbol("g_heap_used");
    for (const uint64_t tsc : {uint64_t{0x1234}, uint64_t{0x0123456789abcdef}}) {
        SCOPED_TRACE(tsc);
        const uint32_t seed = (unseeded_state(tsc) - 12345u) * inverse(1103515245u);
        const auto low = static_cast<uint32_t>(tsc), high = static_cast<uint32_t>(tsc >> 32);
        // What is left once every known input is taken out: the address of a local of rand.
        const uint32_t rest = unmix(seed) ^ low ^ high * 1664525u ^ heap_used ^ 0x9E3779B9u;
        EXPECT_GE(rest, 0xBFF00000u);
        EXPECT_LT(rest, 0xC0000000u);
    }
}

TEST(ProcessServices, UnseededRandSeedsOnceFromTheCounter) {
    EXPECT_NE(unseeded_state(0x1234), unseeded_state(0x1235));
    // The high half joins the low one multiplied by 1664525: these two counters mix the same.
    EXPECT_EQ(unseeded_state(0x1234), unseeded_state(uint64_t{1} << 32 | (0x1234 ^ 1664525u)));
    EXPECT_NE(unseeded_state(0x1234), unseeded_state(uint64_t{2} << 32 | (0x1234 ^ 1664525u)));
}

}  // namespace
}  // namespace kivos::test
