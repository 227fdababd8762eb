// Ending the process, the stubs, absolute values, the generator and the error texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emu/layout.h"
#include "harness/guest.h"

namespace kivos::test {
namespace {

constexpr uint32_t k_exit_call = 2;

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
        {-5, 5},
        {0, 0},
        {7, 7},
        {-1, 1},
        {INT32_MAX, INT32_MAX},
        {-INT32_MAX, INT32_MAX},
        {INT32_MIN, INT32_MIN},
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
        {0, "ok"},
        {2, "no such file"},
        {22, "invalid argument"},
        {38, "not implemented"},
        {12, "error"},
        {1, "error"},
        {-2, "error"},
        {-22, "error"},
        {1000, "error"},
        {INT32_MIN, "error"},
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

constexpr uint32_t k_multiplier = 1103515245;
constexpr uint32_t k_increment = 12345;

uint32_t multiplicative_inverse(uint32_t odd) {
    uint32_t inverse = odd;  // right in 3 bits; each step doubles that
    for (int i = 0; i < 4; ++i) inverse *= 2 - odd * inverse;
    return inverse;
}

uint32_t undo_xorshift(uint32_t y, int shift) {
    uint32_t x = y;
    for (int s = shift; s < 32; s += shift) x ^= y >> s;
    return x;
}

// What went into the generator's mix, recovered from the state it stored.
uint32_t unmix(uint32_t x) {
    x = undo_xorshift(x, 16);
    x *= multiplicative_inverse(0x846CA68B);
    x = undo_xorshift(x, 15);
    x *= multiplicative_inverse(0x7FEB352D);
    return undo_xorshift(x, 16);
}

struct Unseeded {
    uint32_t first;
    uint32_t state;
    uint64_t tsc_reads;
};

Unseeded first_unseeded_rand(uint64_t tsc) {
    GuestOptions options;
    options.pinned_tsc = tsc;
    Guest g(options);
    EXPECT_EQ(g.read32(g.symbol("g_rand_seeded")), 0u);
    const uint32_t first = g.call("rand");
    const uint32_t state = g.read32(g.symbol("g_rand_state"));
    EXPECT_EQ(g.read32(g.symbol("g_rand_seeded")), 1u);
    // Later calls continue from the stored state without reading the counter again.
    EXPECT_EQ(g.call("rand"), ((state * k_multiplier + k_increment) >> 16) & 0x7fff);
    g.call("srand", {1});
    EXPECT_EQ(g.call("rand"), 16838u);
    return {first, state, g.tsc_reads()};
}

// The stack address that the seed mixed in, given the counter it read.
uint32_t mixed_stack_address(uint64_t tsc, uint32_t state, uint32_t heap_used_address) {
    const uint32_t seed = (state - k_increment) * multiplicative_inverse(k_multiplier);
    const auto low = static_cast<uint32_t>(tsc);
    const auto high = static_cast<uint32_t>(tsc >> 32);
    return unmix(seed) ^ low ^ (high * 1664525u) ^ heap_used_address ^ 0x9E3779B9u;
}

TEST(ProcessServices, UnseededRandSeedsOnceFromTheCounter) {
    const uint32_t heap_used_address = Guest().symbol("g_heap_used");
    std::vector<uint32_t> stack_addresses;
    for (const uint64_t tsc : {0x0000001234567890ull, 0x00000abcfedcba98ull}) {
        SCOPED_TRACE(tsc);
        const Unseeded run = first_unseeded_rand(tsc);
        EXPECT_EQ(run.tsc_reads, 1u);
        EXPECT_EQ(run.first, (run.state >> 16) & 0x7fff);
        stack_addresses.push_back(mixed_stack_address(tsc, run.state, heap_used_address));
    }
    // The one input the test cannot pin comes out the same, on the stack, for both counters.
    EXPECT_EQ(stack_addresses[0], stack_addresses[1]);
    EXPECT_GT(stack_addresses[0], emu::layout::kStackBottom);
    EXPECT_LT(stack_addresses[0], emu::layout::kStackTop);

    // A counter whose mix comes out 0 seeds with 1, as srand(0) does.
    const uint32_t zeroing_low = stack_addresses[0] ^ heap_used_address ^ 0x9E3779B9u;
    EXPECT_EQ(first_unseeded_rand(zeroing_low).first, 16838u);
}

}  // namespace
}  // namespace kivos::test
