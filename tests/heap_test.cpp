// The heap arena: block arithmetic, exhaustion, and what each call copies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emu/elf_file.h"
#include "harness/guest.h"

namespace kivos::test {
namespace {

constexpr uint32_t k_arena_size = 0x100000;
constexpr uint32_t k_enomem = 12;

uint32_t used(Guest &g) {
    return g.read32(g.symbol("g_heap_used"));
}
uint32_t error_number(Guest &g) {
    return g.read32(g.symbol("errno"));
}
uint32_t recorded_size(Guest &g, uint32_t payload) {
    return g.read32(payload - 4);
}

TEST(Heap, ArenaLeadsTheBssAndErrnoFollowsIt) {
    const emu::ElfFile elf = emu::ElfFile::read(KIVOS_TEST_IMAGE);
    const auto heap = elf.symbol("g_heap");
    const auto error = elf.symbol("errno");
    ASSERT_TRUE(heap && error);
    EXPECT_EQ(heap->value, elf.section(".bss")->addr);
    EXPECT_EQ(heap->value % 8, 0u);
    EXPECT_EQ(heap->size, k_arena_size);
    EXPECT_EQ(error->value, heap->value + k_arena_size);
}

TEST(Heap, BlockSizesAndPayloadAddresses) {
    struct Case {
        uint32_t request;
        uint32_t recorded;
        uint32_t takes;
    };
    const std::vector<Case> cases = {
        {0, 1, 8},    {1, 1, 8},    {4, 4, 8},    {5, 5, 16}, {12, 12, 16},
        {13, 13, 24}, {20, 20, 24}, {21, 21, 32}, {0, 1, 8},  {100, 100, 104},
    };
    Guest g;
    const uint32_t heap = g.symbol("g_heap");
    ASSERT_EQ(used(g), 0u);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.request);
        const uint32_t before = used(g);
        const uint32_t p = g.call("malloc", {c.request});
        EXPECT_EQ(p, heap + before + 4);
        EXPECT_EQ(recorded_size(g, p), c.recorded);
        EXPECT_EQ(used(g) - before, c.takes);
    }
    EXPECT_EQ(error_number(g), 0u);
    EXPECT_TRUE(g.trace().empty()) << "the kernel is never asked for memory";
}

TEST(Heap, RefusesWhatDoesNotFitWithoutWrapping) {
    Guest g;
    const uint32_t heap = g.symbol("g_heap");
    // Each of these would pass the arena's end, some only after the rounding or the sum wraps.
    const std::vector<uint32_t> too_big = {k_arena_size - 3, k_arena_size, 0x7fffffff,
                                           0xfffffff5,       0xfffffff8,   0xffffffff};
    for (const uint32_t size : too_big) {
        SCOPED_TRACE(size);
        for (const auto &[function, args] :
             std::vector<std::pair<std::string, std::vector<uint32_t>>>{
                 {"malloc", {size}}, {"calloc", {1, size}}, {"realloc", {0, size}}}) {
            g.write32(g.symbol("errno"), 0);
            EXPECT_EQ(g.call(function, args), 0u) << function;
            EXPECT_EQ(error_number(g), k_enomem) << function;
            EXPECT_EQ(used(g), 0u) << function;
        }
    }
    // errno stays set through later successes.
    EXPECT_EQ(g.call("malloc", {1}), heap + 4);
    EXPECT_NE(g.call("calloc", {2, 2}), 0u);
    EXPECT_NE(g.call("realloc", {heap + 4, 3}), 0u);
    EXPECT_EQ(error_number(g), k_enomem);
    ASSERT_EQ(used(g), 24u);

    // The last bytes go to a request that takes exactly what is left, and not one byte more.
    g.write32(g.symbol("errno"), 0);
    EXPECT_EQ(g.call("malloc", {k_arena_size - 24 - 3}), 0u);
    EXPECT_EQ(error_number(g), k_enomem);
    EXPECT_EQ(g.call("malloc", {k_arena_size - 24 - 4}), heap + 24 + 4);
    EXPECT_EQ(used(g), k_arena_size);
    g.write32(g.symbol("errno"), 0);
    EXPECT_EQ(g.call("malloc", {0}), 0u);
    EXPECT_EQ(error_number(g), k_enomem);
    EXPECT_EQ(used(g), k_arena_size);
}

TEST(Heap, FillsExactlyFromEmpty) {
    Guest g;
    EXPECT_EQ(g.call("malloc", {k_arena_size - 4}), g.symbol("g_heap") + 4);
    EXPECT_EQ(used(g), k_arena_size);
    EXPECT_EQ(error_number(g), 0u);
}

TEST(Heap, CallocClearsAndRefusesAnOverflowingProduct) {
    Guest g;
    const uint32_t heap = g.symbol("g_heap");
    EXPECT_EQ(g.call("calloc", {0, 5}), heap + 4);
    EXPECT_EQ(g.call("calloc", {5, 0}), heap + 12);
    EXPECT_EQ(used(g), 16u);
    EXPECT_EQ(recorded_size(g, heap + 12), 1u);

    // Dirty the bytes of the next block: calloc clears them rather than trust the fresh arena.
    g.write(heap + 16, std::string(32, '\xaa'));
    const uint32_t p = g.call("calloc", {3, 5});
    EXPECT_EQ(p, heap + 20);
    EXPECT_EQ(g.read(p, 15), std::string(15, '\0'));
    EXPECT_EQ(recorded_size(g, p), 15u);
    EXPECT_EQ(used(g), 40u);

    for (const auto &[count, size] : std::vector<std::pair<uint32_t, uint32_t>>{
             {0x10000, 0x10000}, {0xffffffff, 2}, {0x10000, 0x10}}) {
        g.write32(g.symbol("errno"), 0);
        EXPECT_EQ(g.call("calloc", {count, size}), 0u) << count << " x " << size;
        EXPECT_EQ(error_number(g), k_enomem);
        EXPECT_EQ(used(g), 40u) << "a refused calloc consumes nothing";
    }
}

TEST(Heap, ReallocCopiesIntoANewBlockAndLeavesTheOldOne) {
    struct Case {
        uint32_t size;
        uint32_t recorded;
        std::string payload;
    };
    const std::string digits = "0123456789";
    const std::vector<Case> cases = {
        {5, 5, "01234"},
        {100, 100, digits + std::string(90, '\0')},
        {0, 1, "0"},
        {10, 10, digits},
    };
    Guest g;
    const uint32_t heap = g.symbol("g_heap");
    const uint32_t p = g.call("malloc", {10});
    g.write(p, digits);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        const uint32_t before = used(g);
        const uint32_t q = g.call("realloc", {p, c.size});
        EXPECT_EQ(q, heap + before + 4);
        EXPECT_EQ(recorded_size(g, q), c.recorded);
        EXPECT_EQ(g.read(q, c.recorded), c.payload);
        EXPECT_EQ(g.read(p, 10), digits);
        EXPECT_EQ(recorded_size(g, p), 10u);
    }
    // The newest block too is copied, never extended in place.
    const uint32_t last = g.call("malloc", {4});
    EXPECT_NE(g.call("realloc", {last, 8}), last);

    const uint32_t before = used(g);
    EXPECT_EQ(g.call("realloc", {0, 16}), heap + before + 4);
    EXPECT_EQ(recorded_size(g, heap + before + 4), 16u);

    EXPECT_EQ(g.call("realloc", {p, k_arena_size}), 0u);
    EXPECT_EQ(error_number(g), k_enomem);
    EXPECT_EQ(used(g), before + 24);
    EXPECT_EQ(g.read(p, 10), digits);
}

TEST(Heap, FreeKeepsEverything) {
    Guest g;
    const uint32_t p = g.call("malloc", {16});
    g.call("free", {p});
    g.call("free", {0});
    const uint32_t q = g.call("malloc", {16});
    EXPECT_EQ(q, p + 24);
    EXPECT_EQ(recorded_size(g, p), 16u);
    EXPECT_TRUE(g.trace().empty());
}

}  // namespace
}  // namespace kivos::test
