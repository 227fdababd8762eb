// lcov tracefiles, the format genhtml and lcov read: per source file, how
// often each line ran.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace kivos::debug {

// Source file -> line -> times run.
using LineCounts = std::map<std::string, std::map<uint32_t, uint64_t>>;

// Throws std::runtime_error on text that is no tracefile (only line records are kept).
LineCounts parse_lcov(std::string_view text);
std::string format_lcov(const LineCounts &counts);

// Adds `counts` to the tracefile at `path`, making it when there is none.
// The file is locked meanwhile, so that runs at the same time all add up.
// Throws std::runtime_error; a file that is no tracefile is left as it is.
void merge_into_tracefile(const std::filesystem::path &path, const LineCounts &counts);

}  // namespace kivos::debug
