// Under `make coverage` (KIVOS_COVERAGE names an lcov tracefile) every
// machine a test builds counts the lines of its image, and the counts go
// into the tracefile when the test program ends.
#pragma once

#include <filesystem>
#include <vector>

#include "emu/execution_observer.h"

namespace kivos::test {

// The observers to give a machine running `image`: none unless measuring.
std::vector<emu::ExecutionObserver *> coverage_observers(const std::filesystem::path &image);

}  // namespace kivos::test
