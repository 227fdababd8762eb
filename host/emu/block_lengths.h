// How many instructions each translated block of the guest holds, asked of the
// engine once per block address: counting a block at a time keeps the engine's
// fast path, where a hook on every instruction makes it about 30 times slower.
#pragma once

#include <unicorn/unicorn.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace kivos::emu {

class BlockLengths {
  public:
    explicit BlockLengths(uc_engine *engine) : engine_(engine) {}

    // Instructions in the block that starts at `address`, when known; 0 when not.
    uint32_t known(uint32_t address) const {
        const Block &block = cache_[slot(address)];
        return block.address == address ? block.length : 0;
    }
    // The same, asked of the engine when not known; the block must have been
    // translated (as it has when its hook runs). Throws MachineError.
    uint32_t at(uint32_t address) {
        const uint32_t length = known(address);
        return length != 0 ? length : learn(address);
    }
    // Instructions of the block at `block` that come before `address`, or all
    // of them when `address` lies outside it. Translates blocks, so it may only
    // be asked between runs.
    uint32_t before(uint32_t block, uint32_t address);
    // The bytes of the block at `block`; the same conditions as before().
    uint32_t size(uint32_t block) { return translated(block).size; }

  private:
    struct Block {
        uint32_t address = 0;  // page 0 never holds code, so 0 marks a free slot
        uint32_t length = 0;
    };
    static size_t slot(uint32_t address) { return (address ^ address >> 12) % kSlots; }
    uint32_t learn(uint32_t address);
    uc_tb translated(uint32_t address);
    uint32_t between(uint32_t from, uint32_t to);

    uc_engine *engine_;
    static constexpr size_t kSlots = 4096;
    std::array<Block, kSlots> cache_{};
};

}  // namespace kivos::emu
