// The heap arena, ending the process, the stubs, absolute values, the generator and the error
// texts, run inside the kivos machine.
#include <gtest/gtest.h>

#include "harness/guest.h"
#include "harness/guest_abi.h"

namespace kivos::test {
namespace {

// A guest with the heap's variables at hand.
struct HeapGuest : Guest {
    const uint32_t heap = symbol("g_heap");
    uint32_t used() const { return read_symbol("g_heap_used"); }

    // A refusal answers null, sets errno and takes no byte.
    void expect_refused(std::string_view function, const std::vector<uint32_t> &args) {
        const uint32_t before = used();
        write32(symbol("errno"), 0);
        EXPECT_EQ(call(function, args), 0u) << function;
        EXPECT_EQ(read_symbol("errno"), k_enomem) << function;
        EXPECT_EQ(used(), before) << function;
    }
};

// The heap fuzz target checks every answer of malloc, calloc and realloc against a model of the
// arena; these are the cases its random sizes do not reach.
TEST(Heap, RefusesWhatDoesNotFitWithoutWrapping) {
    HeapGuest g;
    // Just past the end once rounded; rounded up to exactly 2^32; the header's sum wraps.
    for (const uint32_t size : {k_arena_size - 3, 0xfffffff5u, 0xffffffffu}) {
        SCOPED_TRACE(size);
        g.expect_refused("malloc", {size});
        g.expect_refused("calloc", {1, size});
        g.expect_refused("realloc", {0, size});
    }
    // errno stays set through later successes.
    EXPECT_EQ(g.call("malloc", {1}), g.heap + 4);
    EXPECT_EQ(g.read_symbol("errno"), k_enomem);
    EXPECT_EQ(g.call("malloc", {k_arena_size - 8 - 4}), g.heap + 8 + 4);
    g.expect_refused("strdup", {g.place_string("abc")});
    g.expect_refused("strndup", {g.place_string("abc"), 2});
}

TEST(Heap, CallocClearsWhatItHandsOut) {
    HeapGuest g;
    EXPECT_EQ(g.call("calloc", {0, 5}), g.heap + 4);
    // Dirty the bytes of the next block: calloc clears them rather than trust the fresh arena.
    g.write(g.heap + 8, std::string(32, '\xaa'));
    EXPECT_EQ(g.call("calloc", {3, 5}), g.heap + 12);
    EXPECT_EQ(g.read(g.heap + 12, 16), std::string(15, '\0') + '\xaa');
    EXPECT_TRUE(g.trace().empty()) << "no block is ever asked of the kernel";
}

TEST(ProcessServices, ExitAndAbortEndWithTheirStatusAndNothingElse) {
    const std::vector<std::tuple<const char *, std::vector<uint32_t>, int>> cases = {
        {"exit", {3}, 3}, {"exit", {0}, 0}, {"abort", {}, 1}, {"_exit", {7}, 7}};
    for (const auto &[function, args, status] : cases) {
        SCOPED_TRACE(function);
        Guest g;
        // A handler that would change the status if exit ran it.
        EXPECT_EQ(g.call("atexit", {g.symbol("abort")}), 0u);
        // A spooled stream left open: its file is written only by fclose.
        const uint32_t spooled = g.call("fopen", {g.place_string("out"), g.place_string("w")});
        EXPECT_EQ(g.call("fputs", {g.place_string("lost"), spooled}), 4u);
        g.clear_trace();
        g.call(function, args);
        EXPECT_EQ(g.exit_status(), status);
        EXPECT_EQ(g.trap_numbers(), std::vector<uint32_t>{KIVOS_SYS__exit});
        EXPECT_FALSE(std::filesystem::exists(g.root() / "out"));
        EXPECT_EQ(g.traps(KIVOS_SYS__exit, 0),
                  std::vector<uint32_t>{static_cast<uint32_t>(status)});
    }
}

TEST(ProcessServices, StubsAbsoluteValuesAndErrorTexts) {
    Guest g;
    // Low pointers sit on the unmapped page: reading one would fault.
    for (const uint32_t name : {0u, 16u, g.place_string("PATH")})
        EXPECT_EQ(g.call("getenv", {name}), 0u);
    EXPECT_EQ(g.call("atexit", {0}), 0u);
    const std::vector<std::pair<int32_t, int32_t>> absolute = {{-5, 5},
                                                               {0, 0},
                                                               {7, 7},
                                                               {INT32_MAX, INT32_MAX},
                                                               {-INT32_MAX, INT32_MAX},
                                                               {INT32_MIN, INT32_MIN}};
    for (const auto &[x, expected] : absolute) {
        for (const char *function : {"abs", "labs"})
            EXPECT_EQ(static_cast<int32_t>(g.call(function, {static_cast<uint32_t>(x)})), expected)
                << function << "(" << x << ")";
    }
    const std::vector<std::pair<int32_t, std::string>> texts = {{0, "ok"},
                                                                {2, "no such file"},
                                                                {22, "invalid argument"},
                                                                {38, "not implemented"},
                                                                {12, "error"},
                                                                {1, "error"},
                                                                {-2, "error"},
                                                                {1000, "error"},
                                                                {INT32_MIN, "error"}};
    for (const auto &[code, text] : texts)
        EXPECT_EQ(g.read_string(g.call("strerror", {static_cast<uint32_t>(code)})), text) << code;
    EXPECT_TRUE(g.trace().empty());
}

TEST(Rand, SrandGivesTheSameSequenceEveryRun) {
    const std::vector<std::pair<uint32_t, std::vector<uint32_t>>> cases = {
        {1, {16838, 5758, 10113, 17515, 31051}}, {0, {16838, 5758}}, {42, {19081, 17033, 15269}}};
    Guest g;
    for (const auto &[seed, expected] : cases) {
        g.call("srand", {seed});
        std::vector<uint32_t> draws;
        for (size_t i = 0; i < expected.size(); ++i) draws.push_back(g.call("rand"));
        EXPECT_EQ(draws, expected) << "seed " << seed;
        EXPECT_EQ(g.read_symbol("g_rand_seeded"), 1u);
    }
}

// The first draws of a program that never calls srand, with the counter pinned to `tsc`.
std::vector<uint32_t> unseeded_draws(uint64_t tsc) {
    GuestOptions options;
    options.pinned_tsc = tsc;
    Guest g(options);
    EXPECT_EQ(g.read_symbol("g_rand_seeded"), 0u);
    std::vector<uint32_t> draws;
    for (int i = 0; i < 3; ++i) draws.push_back(g.call("rand"));
    EXPECT_EQ(g.read_symbol("g_rand_seeded"), 1u);
    EXPECT_EQ(g.tsc_reads(), 1u) << "seeded once";
    // The draw is bits 16 to 30 of the state it left.
    EXPECT_EQ(draws.back(), (g.read_symbol("g_rand_state") >> 16) & 0x7fff);
    return draws;
}

TEST(Rand, UnseededSequenceFollowsBothHalvesOfTheCounter) {
    const auto first = unseeded_draws(0x1234);
    EXPECT_NE(first, std::vector<uint32_t>({16838, 5758, 10113})) << "not the sequence of seed 1";
    for (const uint64_t tsc : {uint64_t{0x1235}, uint64_t{1} << 32 | 0x1234}) {
        EXPECT_NE(unseeded_draws(tsc), first) << tsc;
    }
}

}  // namespace
}  // namespace kivos::test
