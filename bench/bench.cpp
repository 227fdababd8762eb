// make bench: the table of what the library and the machine cost.
#include <cstdio>

#include "bench.h"

namespace kivos::bench {

std::string grouped(double value) {
    const std::string digits = std::to_string(static_cast<long long>(value + 0.5));
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

}  // namespace kivos::bench

int main() {
    using kivos::bench::Row;
    std::vector<Row> rows = kivos::bench::call_rows();
    for (Row &row : kivos::bench::machine_rows()) rows.push_back(std::move(row));

    std::printf(
        "| Case | This machine | Anchor | Ratio | Target | Status |\n|---|---|---|---|---|---|\n");
    for (const Row &row : rows) {
        char ratio[16] = "";
        if (row.ratio) std::snprintf(ratio, sizeof ratio, "%.3g", *row.ratio);
        std::printf("| %s | %s | %s | %s | %s | %s |\n", row.what.c_str(), row.figure.c_str(),
                    row.anchor.c_str(), ratio, row.target.c_str(), row.met ? "met" : "missed");
    }
    bool first = true;
    for (const Row &row : rows) {
        if (row.met || row.obstacle.empty()) continue;
        std::printf("%s- %s: %s\n", first ? "\n" : "", row.what.c_str(), row.obstacle.c_str());
        first = false;
    }
    return 0;
}
