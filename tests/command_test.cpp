// The commands we ship and build, end to end: on the machine, and under kivos-run as a user runs
// them.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "harness/guest.h"
#include "harness/guest_abi.h"

namespace kivos::test {
namespace {

const std::string k_report =
    "Predictive Memory Statistics:\n"
    "  Userland allocator state: active\n"
    "  Bounded low-memory behavior: enabled\n"
    "  Streaming-first command policy: enabled\n";
const std::string k_usage = "Usage: ram_forecast\n";

TEST(RamForecast, FirstArgumentSelectsReportOrUsage) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, k_report},          {{"-h"}, k_usage},      {{"-h", "more"}, k_usage},
        {{"x", "-h"}, k_report}, {{"--help"}, k_report}, {{"-hh"}, k_report},
        {{"-h "}, k_report},     {{""}, k_report}};
    for (const auto &[args, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        Guest g(KIVOS_RAM_FORECAST);
        std::vector<std::string> argv = {"ram_forecast"};
        argv.insert(argv.end(), args.begin(), args.end());
        g.run_program(argv);
        EXPECT_EQ(g.exit_status(), 0);
        EXPECT_EQ(g.console(), expected);
        // Each line goes out as its text, then a one-byte newline; nothing else but _exit.
        const auto writes = g.traps(KIVOS_SYS_write);
        ASSERT_EQ(writes.size(), expected == k_usage ? 2u : 8u);
        for (size_t i = 1; i < writes.size(); i += 2) EXPECT_EQ(writes[i], 1u);
        EXPECT_EQ(g.trace().size(), writes.size() + 1);
    }
    Guest g(KIVOS_RAM_FORECAST);
    const uint32_t argv = g.reserve(8);
    g.write32(argv, g.place_string("ram_forecast"));
    EXPECT_EQ(g.call("main", {2, argv}), 0u) << "a null second argument is no option";
    EXPECT_EQ(g.console(), k_report);
}

TEST(BigCommand, RunsFromItsMovedSections) {
    Guest g(KIVOS_BIG_COMMAND);
    g.run_program({"big_command"});
    EXPECT_EQ(g.exit_status(), 0);
    EXPECT_EQ(g.console(), "big command ran\n");
}

// Each step runs on what the last one left in notes.txt, unless it brings a file of its own.
TEST(Notes, KeepsItsListInAFileAcrossRuns) {
    const std::string usage = "Usage: notes add WORD... | notes list | notes clear\n";
    const std::string two = "buy milk\ncall  bob\n", full(65536, 'x');
    const std::string nearly_full = std::string(65530, 'x') + "\n";
    struct Step {
        std::vector<std::string> args;
        std::string out;
        std::optional<std::string> file;  // notes.txt afterwards; none: absent
        std::optional<std::string> before = std::nullopt;
    };
    const std::vector<Step> steps = {
        {{"list"}, "No notes.\n", std::nullopt},
        {{"add", "buy", "milk"}, "Note 1 added.\n", "buy milk\n"},
        {{"add", "call  bob"}, "Note 2 added.\n", two},
        {{"list"}, "1. buy milk\n2. call  bob\n", two},
        {{}, usage, two},
        {{"add"}, usage, two},
        {{"clear"}, "Notes cleared.\n", std::nullopt},
        {{"clear"}, "Notes cleared.\n", std::nullopt},
        // An editor left no final newline: the next note still starts its own line.
        {{"list"}, "1. first\n", "first", "first"},
        {{"add", "second"}, "Note 2 added.\n", "first\nsecond\n", "first"},
        {{"add", "x"}, "notes: cannot read notes.txt\n", full, full},
        {{"add", "second"}, "notes: no room for another note\n", nearly_full, nearly_full},
    };
    std::optional<std::string> file;
    for (const Step &step : steps) {
        SCOPED_TRACE(testing::PrintToString(step.args));
        Guest g(KIVOS_NOTES);
        const std::filesystem::path notes = g.root() / "notes.txt";
        if (step.before) file = step.before;
        if (file) write_file(notes, *file);
        std::vector<std::string> argv = {"notes"};
        argv.insert(argv.end(), step.args.begin(), step.args.end());
        g.run_program(argv);
        EXPECT_EQ(g.console(), step.out);
        const int status = step.out == usage ? 2 : step.out.starts_with("notes:") ? 1 : 0;
        EXPECT_EQ(g.exit_status(), status);
        file = exists(notes) ? std::optional(read_file(notes)) : std::nullopt;
        EXPECT_EQ(file, step.file);
    }
}

}  // namespace
}  // namespace kivos::test
