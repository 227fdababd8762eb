// kivos-run as a user runs it: the guest's bytes and status, and the tool's own.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "harness/guest.h"
#include "harness/process.h"

namespace kivos::test {
namespace {

namespace fs = std::filesystem;

ProcessResult kivos_run(std::vector<std::string> args, const std::string &input = "") {
    args.insert(args.begin(), KIVOS_RUN);
    return run_process(args, {}, input);
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> result;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        result.push_back(text.substr(at, end - at));
    return result;
}

TEST(KivosRun, PassesGuestOutputAndStatusAndReportsItsOwn) {
    const std::string probe = KIVOS_PROBE_IMAGE;
    const TempFolder root;
    std::ofstream(root.path() / "note") << "from the root\n";
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int status;
        std::string out;
        std::string err;  // the start of standard error, one line unless a fault report
    };
    const std::vector<Case> cases = {
        {{probe, "-x", "--trace", "--", "a b"}, "", 0, probe + "\n-x\n--trace\n--\na b\n", ""},
        {{"--", probe}, "", 0, probe + "\n", ""},
        {{probe, "exit", "7"}, "", 7, "", ""},
        {{probe, "exit", "300"}, "", 44, "", ""},
        {{probe, "cat"}, std::string("a\0b\xff\n", 5), 0, std::string("a\0b\xff\n", 5), ""},
        {{"--root", root.path().string(), probe, "show", "note"}, "", 0, "from the root\n", ""},
        {{"--root", root.path().string(), probe, "show", "../note"}, "", 0, "from the root\n", ""},
        {{probe, "show", "no-such-file"}, "", 2, "", ""},
        {{probe, "fault"},
         "",
         126,
         "",
         "kivos-run: guest fault: read from unmapped address 0x00000010 at eip 0x"},
        {{probe, "call", "0"},
         "",
         126,
         "",
         "kivos-run: guest fault: fetch from unmapped address 0x00000000 at eip 0x00000000"},
        {{probe, "jit"}, "", 126, "", ""},  // the engine itself fails
        {{"--limit", "2000", probe, "spin"},
         "",
         124,
         "",
         "kivos-run: instruction limit of 2000 reached"},
        {{"/no/such/image"}, "", 125, "", "kivos-run: /no/such/image: cannot open"},
        {{KIVOS_RUN}, "", 125, "", std::string("kivos-run: ") + KIVOS_RUN + ": 64-bit ELF file"},
        {{"--root", "/no/such/folder", probe}, "", 125, "", "kivos-run: /no/such/folder"},
        {{"--bogus", probe}, "", 125, "", "kivos-run: unknown option --bogus"},
        {{"--limit", "many", probe}, "", 125, "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const ProcessResult outcome = kivos_run(c.args, c.input);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(outcome.err.rfind(c.err, 0), 0u) << outcome.err;
        if (c.err.empty() && c.status == 126) {
            EXPECT_NE(outcome.err.find("\nkivos-run: guest fault: the emulator failed"),
                      std::string::npos)
                << outcome.err;
        } else if (c.err.empty() && c.status != 125) {
            EXPECT_EQ(outcome.err, "");
        } else if (!c.err.empty() && c.status != 126) {
            EXPECT_EQ(lines(outcome.err).size(), 1u) << outcome.err;
        }
    }
    const ProcessResult none = kivos_run({});
    EXPECT_EQ(none.status, 125);
    EXPECT_EQ(kivos_run({"--help"}).status, 0);
}

TEST(KivosRun, TracesAndCountsOnStandardError) {
    const std::string probe = KIVOS_PROBE_IMAGE;
    const ProcessResult traced = kivos_run({"--trace", probe, "hi"});
    EXPECT_EQ(traced.status, 0);
    EXPECT_EQ(traced.out, probe + "\nhi\n");
    const std::vector<std::string> trace = lines(traced.err);
    ASSERT_EQ(trace.size(), 5u) << traced.err;
    const std::regex write(R"(write\(1, ".*"(\.\.\.)?, (\d+)\) = \2)");
    for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(std::regex_match(trace[i], write)) << trace[i];
    EXPECT_EQ(trace[2], "write(1, \"hi\", 2) = 2");
    EXPECT_EQ(trace[4], "_exit(0)");

    const ProcessResult stats = kivos_run({"--stats", probe, "hi"});
    EXPECT_EQ(stats.status, 0);
    std::smatch count;
    ASSERT_TRUE(std::regex_search(stats.err, count, std::regex(R"(^instructions: (\d+)\n)")))
        << stats.err;
    EXPECT_GT(std::stoull(count[1]), 100u);
    EXPECT_NE(stats.err.find("\ntraps: 5\n  _exit: 1\n  write: 4\n"), std::string::npos)
        << stats.err;
}

TEST(KivosRun, SleepsVirtuallyUnlessAskedToWait) {
    const std::string probe = KIVOS_PROBE_IMAGE;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kivos_run({probe, "sleep"}).status, 0) << "the probe sleeps 3 seconds";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
}  // namespace kivos::test
