// The benchmark table: each row a figure of this machine against its anchor
// (a well-known implementation, or a plain host process in the same run) and
// the figure it should reach.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kivos::bench {

struct Row {
    std::string what;
    std::string figure;
    std::string anchor;
    std::optional<double> ratio;  // the figure over the anchor
    std::string target;
    bool met;
    std::string obstacle = "";  // when missed, what stands in the way, measured
};

// Instructions that library calls and ram_forecast cost, and a program's code size.
std::vector<Row> call_rows();
// How fast kivos-run starts and runs guest code, timed against host processes.
std::vector<Row> machine_rows();

// 1234567 as "1,234,567".
std::string grouped(double value);

}  // namespace kivos::bench
