#include "emu/memory_maps.h"

namespace kivos::emu {

void MemoryMaps::add(uint32_t address, uint32_t size) {
    for (uint64_t page = address; page < uint64_t{address} + size; page += layout::kPageSize)
        pages_.insert(static_cast<uint32_t>(page));
}

std::vector<std::pair<uint32_t, uint32_t>> MemoryMaps::runs(uint32_t address, uint32_t size) const {
    std::vector<std::pair<uint32_t, uint32_t>> found;
    const uint64_t end = uint64_t{address} + size;
    for (auto page = pages_.lower_bound(address); page != pages_.end() && *page < end; ++page) {
        if (!found.empty() && found.back().first + found.back().second == *page)
            found.back().second += layout::kPageSize;
        else
            found.emplace_back(*page, layout::kPageSize);
    }
    return found;
}

std::vector<std::pair<uint32_t, uint32_t>> MemoryMaps::remove(uint32_t address, uint32_t size) {
    auto found = runs(address, size);
    for (const auto &[start, run] : found)
        pages_.erase(pages_.lower_bound(start), pages_.lower_bound(start + run));
    return found;
}

}  // namespace kivos::emu
