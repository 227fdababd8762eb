#include "emu/block_lengths.h"

#include "emu/engine.h"
#include "emu/errors.h"

namespace kivos::emu {

uc_tb BlockLengths::translated(uint32_t address) {
    uc_tb block{};
    check(uc_ctl_request_cache(engine_, address, &block), "looking up a translated block");
    return block;
}

uint32_t BlockLengths::learn(uint32_t address) {
    const uint32_t length = translated(address).icount;
    cache_[slot(address)] = {address, length};
    return length;
}

uint32_t BlockLengths::before(uint32_t block, uint32_t address) {
    const uc_tb translation = translated(block);
    if (address < block || address - block >= translation.size) return translation.icount;
    return between(block, address);
}

// Instructions from `from` up to `to`, both instruction boundaries of one run
// of straight-line code. A block starting later may run further than one the
// engine cut short at its size limit, so what it holds past `to` comes off again.
uint32_t BlockLengths::between(uint32_t from, uint32_t to) {
    if (from >= to) return 0;
    const uc_tb block = translated(from);
    if (block.size == 0) throw MachineError("the engine translated an empty block");
    const uint32_t end = from + block.size;
    return end <= to ? block.icount + between(end, to) : block.icount - between(to, end);
}

}  // namespace kivos::emu
