#include "debug/line_coverage.h"

#include <algorithm>
#include <utility>

#include "emu/machine.h"

namespace kivos::debug {

LineCoverage::LineCoverage(const std::filesystem::path &image)
    : table_(DebugInfo(image).line_table()), runs_(table_.rows.size()) {}

std::pair<uint32_t, uint32_t> LineCoverage::rows_within(uint32_t address, uint32_t size) const {
    const auto by_address = [](const LineTable::Row &row, uint64_t value) {
        return row.address < value;
    };
    const auto first =
        std::lower_bound(table_.rows.begin(), table_.rows.end(), uint64_t{address}, by_address);
    const auto end =
        std::lower_bound(first, table_.rows.end(), uint64_t{address} + size, by_address);
    return {static_cast<uint32_t>(first - table_.rows.begin()),
            static_cast<uint32_t>(end - table_.rows.begin())};
}

void LineCoverage::on_block(emu::Machine &, uint32_t address, uint32_t size) {
    auto found = blocks_.find(address);
    if (found == blocks_.end() || found->second.size != size) {
        const auto [first, end] = rows_within(address, size);
        found = blocks_.insert_or_assign(address, Block{size, first, end}).first;
    }
    last_block_ = &found->second;
    for (uint32_t row = last_block_->first_row; row < last_block_->end_row; ++row) ++runs_[row];
}

// A block is counted whole when it starts; a run that ended inside it (a
// fault, the limit) never ran the rows after the instruction it stopped at.
void LineCoverage::on_end(emu::Machine &machine, const emu::RunResult &result) {
    using End = emu::RunResult::End;
    const Block *last = std::exchange(last_block_, nullptr);
    if (last == nullptr || result.end == End::exited || result.end == End::returned) return;
    const uint32_t stop = machine.read_register(UC_X86_REG_EIP);
    for (uint32_t row = last->first_row; row < last->end_row; ++row)
        if (table_.rows[row].address > stop) --runs_[row];
}

// A line with several rows (a loop's test and its step) ran as often as the busiest.
LineCounts LineCoverage::counts() const {
    LineCounts counts;
    for (size_t i = 0; i < table_.rows.size(); ++i) {
        const LineTable::Row &row = table_.rows[i];
        uint64_t &times = counts[table_.files[row.file]][row.line];
        times = std::max(times, runs_[i]);
    }
    return counts;
}

}  // namespace kivos::debug
