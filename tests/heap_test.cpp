// The heap arena: block arithmetic, exhaustion, and what each call copies.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emu/elf_file.h"
#include "harness/guest.h"
#include "harness/guest_abi.h"

namespace kivos::test {
namespace {

// A guest with the heap's variables at hand.
struct HeapGuest : Guest {
    const uint32_t heap = symbol("g_heap");
    uint32_t used() { return read32(symbol("g_heap_used")); }
    uint32_t error_number() { return read32(symbol("errno")); }
    uint32_t recorded_size(uint32_t payload) { return read32(payload - 4); }

    // A refusal answers null, sets errno and takes no byte.
    void expect_refused(std::string_view function, const std::vector<uint32_t> &args) {
        const uint32_t before = used();
        write32(symbol("errno"), 0);
        EXPECT_EQ(call(function, args), 0u) << function;
        EXPECT_EQ(error_number(), k_enomem) << function;
        EXPECT_EQ(used(), before) << function;
    }
};

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

TEST(Heap, BlockSizesAndPayloadAddressesAndFreeKeepsEverything) {
    struct Case {
        uint32_t request, recorded, takes;
    };
    const std::vector<Case> cases = {{0, 1, 8},    {1, 1, 8},    {4, 4, 8},      {5, 5, 16},
                                     {12, 12, 16}, {13, 13, 24}, {100, 100, 104}};
    HeapGuest g;
    uint32_t p = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.request);
        const uint32_t before = g.used();
        p = g.call("malloc", {c.request});
        EXPECT_EQ(p, g.heap + before + 4);
        EXPECT_EQ(g.recorded_size(p), c.recorded);
        EXPECT_EQ(g.used() - before, c.takes);
    }
    g.call("free", {p});
    g.call("free", {0});
    EXPECT_EQ(g.call("malloc", {16}), p + 104) << "nothing is reused";
    EXPECT_EQ(g.recorded_size(p), 100u);
    EXPECT_EQ(g.error_number(), 0u);
    EXPECT_TRUE(g.trace().empty()) << "the kernel is never asked for memory";
}

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
    EXPECT_NE(g.call("calloc", {2, 2}), 0u);
    EXPECT_NE(g.call("realloc", {g.heap + 4, 3}), 0u);
    EXPECT_EQ(g.error_number(), k_enomem);

    // The last bytes go to a request that takes exactly what is left, and not one byte more.
    g.expect_refused("malloc", {k_arena_size - 24 - 3});
    g.write32(g.symbol("errno"), 0);
    EXPECT_EQ(g.call("malloc", {k_arena_size - 24 - 4}), g.heap + 24 + 4);
    EXPECT_EQ(g.used(), k_arena_size);
    EXPECT_EQ(g.error_number(), 0u);
    g.expect_refused("malloc", {0});
}

TEST(Heap, CallocClearsAndRefusesAnOverflowingProduct) {
    HeapGuest g;
    EXPECT_EQ(g.call("calloc", {0, 5}), g.heap + 4);
    EXPECT_EQ(g.call("calloc", {5, 0}), g.heap + 12);
    EXPECT_EQ(g.recorded_size(g.heap + 12), 1u);
    // Dirty the bytes of the next block: calloc clears them rather than trust the fresh arena.
    g.write(g.heap + 16, std::string(32, '\xaa'));
    const uint32_t p = g.call("calloc", {3, 5});
    EXPECT_EQ(p, g.heap + 20);
    EXPECT_EQ(g.read(p, 15), std::string(15, '\0'));
    EXPECT_EQ(g.recorded_size(p), 15u);
    // Products that wrap to 0 and to 2.
    g.expect_refused("calloc", {0x10000, 0x10000});
    g.expect_refused("calloc", {0x80000001, 2});
}

TEST(Heap, ReallocCopiesIntoANewBlockAndLeavesTheOldOne) {
    const std::string digits = "0123456789";
    // What the new block holds: as many bytes as it records.
    const std::vector<std::pair<uint32_t, std::string>> cases = {
        {5, "01234"}, {100, digits + std::string(90, '\0')}, {0, "0"}, {10, digits}};
    HeapGuest g;
    const uint32_t p = g.call("malloc", {10});
    g.write(p, digits);
    // p is the newest block at first: even then it is copied, never extended in place.
    for (const auto &[size, payload] : cases) {
        SCOPED_TRACE(size);
        const uint32_t before = g.used();
        const uint32_t q = g.call("realloc", {p, size});
        EXPECT_EQ(q, g.heap + before + 4);
        EXPECT_EQ(g.recorded_size(q), payload.size());
        EXPECT_EQ(g.read(q, payload.size()), payload);
        EXPECT_EQ(g.read(p, 10), digits);
        EXPECT_EQ(g.recorded_size(p), 10u);
    }
    const uint32_t before = g.used();
    EXPECT_EQ(g.call("realloc", {0, 16}), g.heap + before + 4);
    EXPECT_EQ(g.recorded_size(g.heap + before + 4), 16u);
    g.expect_refused("realloc", {p, k_arena_size});
    EXPECT_EQ(g.read(p, 10), digits);
}

}  // namespace
}  // namespace kivos::test
