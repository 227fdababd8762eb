// The notes example, built with kivos-cc, run end to end as a user runs it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "harness/guest.h"
#include "harness/process.h"

namespace kivos::test {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> contents(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const std::string k_usage = "Usage: notes add WORD... | notes list | notes clear\n";

TEST(Notes, KeepsItsListInAFileAcrossRuns) {
    const TempFolder root;
    const fs::path notes = root.path() / "notes.txt";
    struct Step {
        std::vector<std::string> args;
        std::string out;
        int status;
        std::optional<std::string> file;  // notes.txt afterwards; none: absent
    };
    const std::vector<Step> steps = {
        {{"list"}, "No notes.\n", 0, std::nullopt},
        {{"add", "buy", "milk"}, "Note 1 added.\n", 0, "buy milk\n"},
        {{"add", "call  bob"}, "Note 2 added.\n", 0, "buy milk\ncall  bob\n"},
        {{"list"}, "1. buy milk\n2. call  bob\n", 0, "buy milk\ncall  bob\n"},
        {{}, k_usage, 2, "buy milk\ncall  bob\n"},
        {{"add"}, k_usage, 2, "buy milk\ncall  bob\n"},
        {{"list", "more"}, k_usage, 2, "buy milk\ncall  bob\n"},
        {{"remove", "1"}, k_usage, 2, "buy milk\ncall  bob\n"},
        {{"clear"}, "Notes cleared.\n", 0, std::nullopt},
        {{"clear"}, "Notes cleared.\n", 0, std::nullopt},
        {{"list"}, "No notes.\n", 0, std::nullopt},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(testing::PrintToString(step.args));
        std::vector<std::string> argv = {KIVOS_RUN, "--root", root.path().string(), KIVOS_NOTES};
        argv.insert(argv.end(), step.args.begin(), step.args.end());
        const ProcessResult result = run_process(argv);
        EXPECT_EQ(result.out, step.out);
        EXPECT_EQ(result.status, step.status);
        EXPECT_EQ(contents(notes), step.file);
    }
}

TEST(Notes, HandlesFilesItDidNotWrite) {
    struct Case {
        std::string before;
        std::vector<std::string> args;
        std::string out;
        int status;
        std::string after;
    };
    const std::string full(65536, 'x');
    const std::vector<Case> cases = {
        // An editor left no final newline: the next note still starts its own line.
        {"first", {"notes", "list"}, "1. first\n", 0, "first"},
        {"first", {"notes", "add", "second"}, "Note 2 added.\n", 0, "first\nsecond\n"},
        {full, {"notes", "add", "more"}, "notes: cannot read notes.txt\n", 1, full},
        {std::string(65530, 'x') + "\n",
         {"notes", "add", "too", "long"},
         "notes: no room for another note\n",
         1,
         std::string(65530, 'x') + "\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        GuestOptions options;
        options.image = KIVOS_NOTES;
        Guest g(options);
        std::ofstream(g.root() / "notes.txt", std::ios::binary) << c.before;
        g.run_program(c.args);
        EXPECT_EQ(g.console(), c.out);
        EXPECT_EQ(g.exit_status(), c.status);
        EXPECT_EQ(contents(g.root() / "notes.txt"), c.after);
    }
}

TEST(Notes, WritesTheFileWholeInOneCall) {
    GuestOptions options;
    options.image = KIVOS_NOTES;
    Guest g(options);
    g.run_program({"notes", "add", "one", "call"});
    int writefiles = 0;
    for (const auto &trap : g.trace()) {
        if (trap.name == "writefile") {
            ++writefiles;
            EXPECT_EQ(g.read_string(trap.args[0]), "notes.txt");
            EXPECT_EQ(trap.args[2], 9u);
        }
    }
    EXPECT_EQ(writefiles, 1);
}

}  // namespace
}  // namespace kivos::test
