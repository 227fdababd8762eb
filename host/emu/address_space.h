// The guest's address space, kept where the guest's own CPU enforces it: in
// page tables. A touch of memory the guest may not use is a page fault that
// the CPU raises at the exact instruction, with no hook on memory accesses
// (any such hook sends every load and store through the engine's slow path).
//
// unicorn 2.0.1 checks an access against its physical memory before it walks
// the page tables and reports a miss there with an inexact eip. So the page
// tables map each guest page to the same physical page, physical pages that no
// table entry leads to back the rest on demand, and the physical memory allows
// reading and writing everywhere. Execution is the one right left to it: 32-bit
// page tables cannot forbid it, so only the guest's executable pages are
// physically executable.
#pragma once

#include <cstdint>
#include <set>
#include <string_view>

#include "emu/engine.h"

namespace kivos::emu {

class AddressSpace {
  public:
    // Turns the CPU's paging on, with nothing mapped.
    explicit AddressSpace(const Engine &engine);

    // Maps zero-filled pages; `perms` are UC_PROT_* bits, and any of them
    // makes the pages readable, as on x86. Throws MachineError.
    void map(uint32_t address, uint32_t size, uint32_t perms);
    // Unmaps whole pages and gives their host memory back; pages that are not
    // mapped are left alone. Throws MachineError.
    void unmap(uint32_t address, uint32_t size);
    // Maps a page of the machine's own holding `contents`: the CPU's privileged
    // accesses reach it, the guest and permissions() find nothing there.
    void map_system_page(uint32_t address, std::string_view contents);
    // UC_PROT_* bits of the page holding `address`; 0 when the guest has none.
    uint32_t permissions(uint32_t address) const;
    // Backs the page holding `address`, which the guest touched but may not
    // use, so that the page walk raises the fault. False when it is backed.
    bool back(uint32_t address);

  private:
    uint32_t *table_entry(uint32_t address) const;

    const Engine &engine_;
    std::set<uint32_t> backing_;  // pages backed for faults, dropped when mapped
};

}  // namespace kivos::emu
