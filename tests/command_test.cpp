// ram_forecast end to end: on the machine, and through kivos-run as a user runs it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "harness/guest.h"

namespace kivos::test {
namespace {

const std::string k_report =
    "Predictive Memory Statistics:\n"
    "  Userland allocator state: active\n"
    "  Bounded low-memory behavior: enabled\n"
    "  Streaming-first command policy: enabled\n";
const std::string k_usage = "Usage: ram_forecast\n";

GuestOptions ram_forecast() {
    GuestOptions options;
    options.image = KIVOS_RAM_FORECAST;
    return options;
}

// The byte count of every write, and whether each went to descriptor 1.
std::vector<uint32_t> console_writes(const Guest &g) {
    std::vector<uint32_t> sizes;
    for (const auto &trap : g.trace()) {
        if (trap.number == 1 && trap.args[0] == 1) sizes.push_back(trap.args[2]);
    }
    return sizes;
}

TEST(RamForecast, FirstArgumentSelectsReportOrUsage) {
    struct Case {
        std::vector<std::string> argv;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{"ram_forecast"}, k_report},
        {{"ram_forecast", "-h"}, k_usage},
        {{"ram_forecast", "-h", "more"}, k_usage},
        {{"ram_forecast", "x", "-h"}, k_report},
        {{"ram_forecast", "--help"}, k_report},
        {{"ram_forecast", "-H"}, k_report},
        {{"ram_forecast", "-x"}, k_report},
        {{"ram_forecast", "-hh"}, k_report},
        {{"ram_forecast", "-h "}, k_report},
        {{"ram_forecast", ""}, k_report},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.argv));
        Guest g(ram_forecast());
        const RunResult result = g.run_program(c.argv);
        EXPECT_EQ(g.exit_status(), 0);
        EXPECT_EQ(g.console(), c.expected);
        // Each line goes out as its text, then a one-byte newline.
        const auto writes = console_writes(g);
        ASSERT_EQ(writes.size(), c.expected == k_usage ? 2u : 8u);
        for (size_t i = 1; i < writes.size(); i += 2) EXPECT_EQ(writes[i], 1u);
        ASSERT_FALSE(g.trace().empty());
        EXPECT_EQ(g.trace().back().number, 2u);
        EXPECT_EQ(g.trace().back().args[0], 0u);
        EXPECT_EQ(g.trace().size(), writes.size() + 1) << "nothing but the writes and _exit";
    }
}

TEST(RamForecast, NullSecondArgumentPrintsTheReport) {
    Guest g(ram_forecast());
    const uint32_t argv = g.reserve(8);
    g.write32(argv, g.place_string("ram_forecast"));
    g.write32(argv + 4, 0);
    EXPECT_EQ(g.call("main", {2, argv}), 0u);
    EXPECT_EQ(g.console(), k_report);
}

TEST(BigCommand, RunsFromItsMovedSections) {
    GuestOptions options;
    options.image = KIVOS_BIG_COMMAND;
    Guest g(options);
    g.run_program({"big_command"});
    EXPECT_EQ(g.exit_status(), 0);
    EXPECT_EQ(g.console(), "big command ran\n");
}

struct Command {
    int status;
    std::string out;
};

// Runs a shell command line, keeping its standard output.
Command run(const std::string &command_line) {
    Command result{-1, ""};
    FILE *pipe = popen(command_line.c_str(), "r");
    if (pipe == nullptr) return result;
    std::array<char, 4096> chunk;
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) result.out.append(chunk.data(), n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST(RamForecast, RunsUnderKivosRunWithTheExactBytes) {
    const std::string tool = std::string(KIVOS_RUN) + " " + KIVOS_RAM_FORECAST;
    const Command report = run(tool + " 2>/dev/null");
    EXPECT_EQ(report.status, 0);
    EXPECT_EQ(report.out, k_report);

    const Command usage = run(tool + " -h 2>/dev/null");
    EXPECT_EQ(usage.status, 0);
    EXPECT_EQ(usage.out, k_usage);

    const Command traced =
        run(std::string(KIVOS_RUN) + " --trace " + KIVOS_RAM_FORECAST + " 2>&1 >/dev/null");
    EXPECT_EQ(traced.status, 0);
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = traced.out.find('\n', at)) != std::string::npos; at = end + 1) {
        lines.push_back(traced.out.substr(at, end - at));
    }
    ASSERT_EQ(lines.size(), 9u) << traced.out;
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(lines[i].rfind("write(1, \"", 0), 0u) << lines[i];
    EXPECT_EQ(lines[0], "write(1, \"Predictive Memory Statistics:\", 29) = 29");
    EXPECT_EQ(lines[1], "write(1, \"\\n\", 1) = 1");
    EXPECT_EQ(lines[8], "_exit(0)");
}

}  // namespace
}  // namespace kivos::test
