// Counts how often each source line of an image runs, from its DWARF line
// table: a hook on every translated block, which marks the rows it holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <unordered_map>
#include <utility>
#include <vector>

#include "debug/debug_info.h"
#include "debug/lcov_file.h"
#include "emu/execution_observer.h"

namespace kivos::debug {

class LineCoverage final : public emu::ExecutionObserver {
  public:
    // Throws std::runtime_error when the image cannot be read as ELF.
    explicit LineCoverage(const std::filesystem::path &image);

    // False for an image without line table (built without -g).
    bool has_lines() const { return !table_.rows.empty(); }
    // Every line of the table with how often it ran, 0 for those that never did.
    LineCounts counts() const;

    Interest interest() const override { return {.blocks = true}; }
    void on_block(emu::Machine &, uint32_t address, uint32_t size) override;
    void on_end(emu::Machine &machine, const emu::RunResult &result) override;

  private:
    std::pair<uint32_t, uint32_t> rows_within(uint32_t address, uint32_t size) const;

    LineTable table_;
    std::vector<uint64_t> runs_;  // per row of the table
    // Block address -> its size and the rows it holds, found once per block.
    struct Block {
        uint32_t size;
        uint32_t first_row;
        uint32_t end_row;
    };
    std::unordered_map<uint32_t, Block> blocks_;
    const Block *last_block_ = nullptr;
};

}  // namespace kivos::debug
