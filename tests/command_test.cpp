// The commands we ship and build, end to end: on the machine, and under kivos-run as a user runs
// them.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "harness/guest.h"
#include "harness/guest_abi.h"
#include "harness/process.h"

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

TEST(Notes, KeepsItsListInAFileAcrossRuns) {
    const TempFolder root;
    const std::filesystem::path notes = root.path() / "notes.txt";
    const std::string usage = "Usage: notes add WORD... | notes list | notes clear\n";
    const std::string two = "buy milk\ncall  bob\n";
    struct Step {
        std::vector<std::string> args;
        std::string out;
        int status;
        std::optional<std::string> file;  // notes.txt afterwards; none: absent
    };
    const std::vector<Step> steps = {
        {{"list"}, "No notes.\n", 0, std::nullopt},
        {{"add", "buy", "milk"}, "Note 1 added.\n", 0, "buy milk\n"},
        {{"add", "call  bob"}, "Note 2 added.\n", 0, two},
        {{"list"}, "1. buy milk\n2. call  bob\n", 0, two},
        {{}, usage, 2, two},
        {{"add"}, usage, 2, two},
        {{"list", "more"}, usage, 2, two},
        {{"clear"}, "Notes cleared.\n", 0, std::nullopt},
        {{"clear"}, "Notes cleared.\n", 0, std::nullopt},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(testing::PrintToString(step.args));
        std::vector<std::string> argv = {KIVOS_RUN, "--root", root.path().string(), KIVOS_NOTES};
        argv.insert(argv.end(), step.args.begin(), step.args.end());
        const ProcessResult result = run_process(argv);
        EXPECT_EQ(result.out, step.out);
        EXPECT_EQ(result.status, step.status);
        EXPECT_EQ(exists(notes) ? std::optional(read_file(notes)) : std::nullopt, step.file);
    }
}

TEST(Notes, HandlesFilesItDidNotWrite) {
    const std::string full(65536, 'x'), nearly_full = std::string(65530, 'x') + "\n";
    struct Case {
        std::string before;
        std::vector<std::string> argv;
        std::string out, after;
    };
    const std::vector<Case> cases = {
        // An editor left no final newline: the next note still starts its own line.
        {"first", {"notes", "list"}, "1. first\n", "first"},
        {"first", {"notes", "add", "second"}, "Note 2 added.\n", "first\nsecond\n"},
        {full, {"notes", "add", "x"}, "notes: cannot read notes.txt\n", full},
        {nearly_full, {"notes", "add", "second"}, "notes: no room for another note\n", nearly_full},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.out);
        Guest g(KIVOS_NOTES);
        write_file(g.root() / "notes.txt", c.before);
        g.run_program(c.argv);
        EXPECT_EQ(g.console(), c.out);
        EXPECT_EQ(g.exit_status(), c.out.starts_with("notes:") ? 1 : 0);
        EXPECT_EQ(read_file(g.root() / "notes.txt"), c.after);
    }
}

}  // namespace
}  // namespace kivos::test
