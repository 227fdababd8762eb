// The pages a process mapped with mmap, so that munmap frees only those and
// the process stays within its share of mapped memory. Pages mapped without
// any right show here only: the page tables have no entry for them.
#pragma once

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "emu/layout.h"

namespace kivos::emu {

class MemoryMaps {
  public:
    // mmap places memory between these addresses, at most kMostBytes in all.
    static constexpr uint32_t kBottom = 0x40000000;
    static constexpr uint32_t kTop = layout::kReservedBottom;
    static constexpr uint32_t kMostBytes = 64u << 20;

    bool room_for(uint32_t size) const { return size <= kMostBytes - bytes(); }
    uint32_t bytes() const { return static_cast<uint32_t>(pages_.size()) * layout::kPageSize; }

    bool contains(uint32_t page) const { return pages_.contains(page); }
    // Both take page-aligned ranges.
    void add(uint32_t address, uint32_t size);
    // The runs of mapped pages inside the range, as {address, size}.
    std::vector<std::pair<uint32_t, uint32_t>> runs(uint32_t address, uint32_t size) const;
    // Forgets the range's pages and answers their runs: what to unmap.
    std::vector<std::pair<uint32_t, uint32_t>> remove(uint32_t address, uint32_t size);

  private:
    std::set<uint32_t> pages_;
};

}  // namespace kivos::emu
