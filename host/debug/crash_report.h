// The report of a guest fault that a developer can act on: the one-line
// report, the registers, and the call stack with each frame's function,
// offset, source file and line (file and line when the image has -g).
#pragma once

#include <filesystem>
#include <string>

#include "emu/machine.h"
#include "emu/run_result.h"

namespace kivos::debug {

// `machine` stands where `result` left it. Lines are joined with '\n'.
std::string crash_report(const emu::RunResult &result, const emu::Machine &machine,
                         const std::filesystem::path &image);

}  // namespace kivos::debug
