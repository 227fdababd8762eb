#include "harness/coverage.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "debug/lcov_file.h"
#include "debug/line_coverage.h"

namespace kivos::test {
namespace {

class Counters {
  public:
    ~Counters() {
        for (const auto &[image, coverage] : by_image_) {
            try {
                debug::merge_into_tracefile(tracefile_, coverage->counts());
            } catch (const std::exception &error) {
                std::fprintf(stderr, "coverage: %s\n", error.what());
            }
        }
    }
    debug::LineCoverage *of(const std::filesystem::path &image, const char *tracefile) {
        tracefile_ = tracefile;
        auto &coverage = by_image_[image];
        if (!coverage) coverage = std::make_unique<debug::LineCoverage>(image);
        return coverage->has_lines() ? coverage.get() : nullptr;
    }

  private:
    std::filesystem::path tracefile_;
    std::map<std::filesystem::path, std::unique_ptr<debug::LineCoverage>> by_image_;
};

}  // namespace

std::vector<emu::ExecutionObserver *> coverage_observers(const std::filesystem::path &image) {
    const char *tracefile = std::getenv("KIVOS_COVERAGE");
    if (tracefile == nullptr || *tracefile == '\0') return {};
    static Counters counters;
    if (debug::LineCoverage *coverage = counters.of(image, tracefile)) return {coverage};
    return {};
}

}  // namespace kivos::test
