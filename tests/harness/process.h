// Host programs run as a user runs them, for the tests of the tools.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "harness/guest.h"

namespace kivos::test {

struct ProcessResult {
    int status;  // the exit status, or -1 when the program died of a signal
    std::string out;
    std::string err;
};

// A program running beside the test; its output goes to files the test can
// read while it runs. One still running when this goes is killed.
class BackgroundProcess {
  public:
    // Runs argv[0] (a path, or a program on PATH) with `input` as its standard input, in `folder`
    // when one is given.
    explicit BackgroundProcess(const std::vector<std::string> &argv,
                               const std::filesystem::path &folder = {},
                               const std::string &input = {});
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess &) = delete;
    BackgroundProcess &operator=(const BackgroundProcess &) = delete;

    pid_t pid() const { return pid_; }
    std::string out() const;
    std::string err() const;
    // Its exit status (-1: a signal ended it); one that runs past `limit` is killed.
    int wait(std::chrono::seconds limit = std::chrono::seconds(60));

  private:
    TempFolder files_;
    pid_t pid_;
    std::optional<int> status_;
};

// Runs argv[0] to its end (see BackgroundProcess).
ProcessResult run_process(const std::vector<std::string> &argv,
                          const std::filesystem::path &folder = {}, const std::string &input = {});

// Whether `condition` comes true within `limit`, asked every few milliseconds.
bool eventually(const std::function<bool()> &condition,
                std::chrono::seconds limit = std::chrono::seconds(30));

}  // namespace kivos::test
