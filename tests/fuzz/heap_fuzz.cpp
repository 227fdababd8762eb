// malloc, calloc and realloc inside the machine, in random sequences against a model of the
// arena: the same answers (the block the model expects, or null and errno 12 when it cannot
// fit), fresh blocks zero, realloc copying the start of the old block, and every block keeping
// its size and bytes whatever came after it.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <vector>

#include "library.h"

namespace {

using kivos::fuzz::require;
constexpr uint64_t kArena = 0x100000;
constexpr uint32_t kChecked = 64;  // bytes of each block filled and checked

struct Block {
    uint32_t payload;
    uint32_t size;  // as recorded: 0 counts as 1
    std::string bytes;
};

uint32_t any_size(FuzzedDataProvider &in, uint64_t used) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return in.ConsumeIntegralInRange<uint32_t>(0, 64);
        case 1:  // around what is left
            return static_cast<uint32_t>(kArena - used) -
                   in.ConsumeIntegralInRange<uint32_t>(0, 16);
        case 2:
            return in.ConsumeIntegralInRange<uint32_t>(0, kArena);
        default:
            return in.ConsumeIntegral<uint32_t>();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    auto &lib = kivos::fuzz::library();
    auto &g = lib.guest();
    static const uint32_t heap = g.symbol("g_heap"), used_at = g.symbol("g_heap_used"),
                          errno_at = g.symbol("errno");
    // A fresh arena: the headers and bytes the last case wrote are zero again.
    static std::vector<Block> blocks;
    for (const Block &block : blocks)
        g.write(block.payload - 4, std::string(4 + std::min(block.size, kChecked), '\0'));
    blocks.clear();
    g.write32(used_at, 0);
    uint64_t used = 0;
    for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) {
        const int kind = in.ConsumeIntegralInRange(0, 2);
        const uint32_t count = kind == 1 ? any_size(in, used) : 1;
        const uint32_t n = any_size(in, used);
        const Block *old = kind != 2 || blocks.empty() || in.ConsumeBool()
                               ? nullptr
                               : &blocks[in.ConsumeIntegralInRange<size_t>(0, blocks.size() - 1)];
        g.write32(errno_at, 0);
        const uint32_t result = kind == 0   ? lib.call("malloc", {n})
                                : kind == 1 ? lib.call("calloc", {count, n})
                                            : lib.call("realloc", {old ? old->payload : 0, n});
        const uint64_t wanted = uint64_t{count} * n;
        const uint64_t recorded = std::max<uint64_t>(wanted, 1);
        const uint64_t end = used + ((recorded + 11) & ~uint64_t{7});
        if (wanted > 0xffffffff || end > kArena) {
            require(result == 0 && g.read32(errno_at) == 12 && g.read32(used_at) == used,
                    "a refusal leaves the arena as it was");
            continue;
        }
        require(result == heap + used + 4 && g.read32(used_at) == end, "the next block");
        used = end;
        Block block{result, static_cast<uint32_t>(recorded), ""};
        const auto checked = static_cast<uint32_t>(std::min<uint64_t>(recorded, kChecked));
        std::string fresh(checked, '\0');
        if (old)
            fresh.replace(0, std::min(old->bytes.size(), fresh.size()), old->bytes, 0, checked);
        require(g.read(result, checked) == fresh, "a fresh block is zero, or the old one's start");
        block.bytes = in.ConsumeBytesAsString(checked);
        g.write(result, block.bytes);
        blocks.push_back(block);
    }
    for (const Block &block : blocks)
        require(g.read32(block.payload - 4) == block.size &&
                    g.read(block.payload, block.bytes.size()) == block.bytes,
                "a block keeps its size and bytes");
    return 0;
}
