// Host programs run as a user runs them, for the tests of the tools.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kivos::test {

struct ProcessResult {
    int status;  // the exit status, or -1 when the program died of a signal
    std::string out;
    std::string err;
};

// Runs argv[0] (a path, or a program on PATH) with `input` as its standard input, in `folder` when
// one is given.
ProcessResult run_process(const std::vector<std::string> &argv,
                          const std::filesystem::path &folder = {}, const std::string &input = {});

}  // namespace kivos::test
