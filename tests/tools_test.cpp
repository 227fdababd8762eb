// The host tools as a user and a script run them: kivos-run, kivos-meta and kivos-cc, their
// output and their exit statuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <sstream>

#include "emu/elf_file.h"
#include "harness/guest.h"
#include "harness/process.h"

namespace kivos::test {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

const std::string k_probe = KIVOS_PROBE_IMAGE;

TEST(KivosRun, PassesGuestOutputAndStatusAndReportsItsOwn) {
    const TempFolder root;
    write_file(root.path() / "note", "from the root\n");
    const std::string at_root = root.path().string(), binary("a\0b\xff\n", 5);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;  // the start of standard error, one line unless a fault report
    };
    const std::vector<Case> cases = {
        {{k_probe, "-x", "--trace", "", "--", "a b"},
         0,
         k_probe + "\n-x\n--trace\n\n--\na b\n",
         ""},
        {{k_probe, "exit", "300"}, 44, "", ""},
        {{k_probe, "cat"}, 0, binary, ""},
        {{"--root", at_root, k_probe, "show", "../note"}, 0, "from the root\n", ""},
        {{k_probe, "fault"},
         126,
         "",
         "kivos-run: guest fault: read from unmapped address 0x00000010 at eip 0x"},
        {{k_probe, "call", "0"},
         126,
         "",
         "kivos-run: guest fault: fetch from unmapped address 0x00000000 at eip 0x00000000"},
        {{k_probe, "jit"},
         126,
         "",
         "kivos-run: guest fault: invalid instruction at eip 0x40000000"},
        {{"--limit", "2000", k_probe, "spin"},
         124,
         "",
         "kivos-run: instruction limit of 2000 reached"},
        {{"/no/such/image"}, 125, "", "kivos-run: /no/such/image: cannot open"},
        {{"--root", "/no/such/folder", k_probe}, 125, "", "kivos-run: /no/such/folder"},
        {{"--bogus", k_probe}, 125, "", "kivos-run: unknown option --bogus"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::vector<std::string> argv = c.args;
        argv.insert(argv.begin(), KIVOS_RUN);
        const ProcessResult outcome = run_process(argv, {}, binary);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_TRUE(outcome.err.starts_with(c.err)) << outcome.err;
        if (c.err.empty() && c.status != 125) {
            EXPECT_EQ(outcome.err, "");
        } else if (!c.err.empty() && c.status != 126) {
            EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
        }
    }
    EXPECT_EQ(run_process({KIVOS_RUN}).status, 125);
    // Whatever brings the engine down ends the run with one line: here the abort of a failing
    // engine, sent to the machine's process.
    BackgroundProcess spinning({KIVOS_RUN, k_probe, "spin"});
    const std::string children = "/proc/" + std::to_string(spinning.pid()) + "/task/" +
                                 std::to_string(spinning.pid()) + "/children";
    pid_t machine = 0;
    ASSERT_TRUE(
        eventually([&] { return bool(std::istringstream(read_file(children)) >> machine); }));
    kill(machine, SIGABRT);
    EXPECT_EQ(spinning.wait(), 126);
    EXPECT_THAT(spinning.err(), HasSubstr("kivos-run: guest fault: the emulator failed (Aborted), "
                                          "the guest's state is lost\n"));
    const ProcessResult help = run_process({KIVOS_RUN, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("Usage: kivos-run [OPTIONS] IMAGE [ARG...]\n"));
}

TEST(KivosRun, TracesCountsAndSleepsVirtually) {
    const ProcessResult traced = run_process({KIVOS_RUN, "--trace", k_probe, "hi"});
    EXPECT_EQ(traced.out, k_probe + "\nhi\n");
    const std::regex trace(
        R"(write\(1, ".*"(\.\.\.)?, (\d+)\) = \2\n)"
        R"((write\(1, "\\n", 1\) = 1\n)write\(1, "hi", 2\) = 2\n\3_exit\(0\)\n)");
    EXPECT_TRUE(std::regex_match(traced.err, trace)) << traced.err;

    const ProcessResult stats = run_process({KIVOS_RUN, "--stats", k_probe, "hi"});
    EXPECT_EQ(stats.status, 0);
    EXPECT_TRUE(std::regex_match(
        stats.err, std::regex(R"(instructions: [1-9]\d{2,}\ntraps: 5\n  _exit: 1\n  write: 4\n)")))
        << stats.err;

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run_process({KIVOS_RUN, k_probe, "sleep"}).status, 0) << "the probe sleeps 3 seconds";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

std::string block(const std::string &image, const std::vector<std::string> &fields) {
    return image + "\n  name:         " + fields[0] + "\n  description:  " + fields[1] +
           "\n  package:      " + fields[2] + "\n  tag:          " + fields[3] + "\n";
}

std::string json(const std::string &image, const std::vector<std::string> &fields) {
    return "{\"image\": \"" + image + "\", \"name\": \"" + fields[0] + "\", \"description\": \"" +
           fields[1] + "\", \"package\": \"" + fields[2] + "\", \"tag\": \"" + fields[3] + "\"}";
}

TEST(KivosMeta, PrintsBlocksOrJson) {
    const std::vector<std::string> ram = {"ram_forecast", "Show predictive memory statistics",
                                          "ram_forecast", "3"};
    const std::vector<std::string> notes = {"notes", "Keep a numbered list of one-line notes",
                                            "kivos_examples", "1"};
    const ProcessResult blocks = run_process({KIVOS_META, KIVOS_RAM_FORECAST, KIVOS_NOTES});
    EXPECT_EQ(blocks.status, 0);
    EXPECT_EQ(blocks.out, block(KIVOS_RAM_FORECAST, ram) + "\n" + block(KIVOS_NOTES, notes));
    EXPECT_EQ(
        run_process({KIVOS_META, "--json", KIVOS_RAM_FORECAST, KIVOS_NOTES}).out,
        "[\n  " + json(KIVOS_RAM_FORECAST, ram) + ",\n  " + json(KIVOS_NOTES, notes) + "\n]\n");
    EXPECT_EQ(run_process({KIVOS_META, "--json", k_probe}).out, "[]\n") << "no image readable";
}

TEST(KivosMeta, ExitStatusSaysWhatWentWrong) {
    const TempFolder folder;
    const std::string good = KIVOS_RAM_FORECAST;
    const std::string text = (folder.path() / "text").string(),
                      damaged = (folder.path() / "damaged").string(),
                      missing = (folder.path() / "missing").string();
    write_file(text, "just words\n");
    std::string damaged_bytes = read_file(good);
    damaged_bytes[emu::ElfFile::read(good).section(".kivos.cmdmeta")->offset] = 'X';
    write_file(damaged, damaged_bytes);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;  // a part of standard output
        std::string err;  // a part of standard error
    };
    const std::vector<Case> cases = {
        {{}, 2, "", "IMAGE is required"},
        {{"--check", "--json", good}, 2, "", "excludes"},
        {{"--help"}, 0, "  2  usage error, or a file that is not a readable ELF32", ""},
        {{missing}, 2, "", missing + ": cannot open: No such file or directory"},
        {{text}, 2, "", text + ": not an ELF file"},
        {{k_probe}, 1, "", ".kivos.cmdmeta: missing: the image has no command record"},
        {{damaged}, 1, "", damaged + ": .kivos.cmdmeta: magic is \"XCMD\", not \"KCMD\""},
        {{"--check", good, damaged}, 1, good + ": ok\n" + damaged + ": .kivos.cmdmeta: magic", ""},
        {{"--check", damaged, text}, 2, damaged + ": ", text + ": not an ELF file"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::vector<std::string> argv = c.args;
        argv.insert(argv.begin(), KIVOS_META);
        const ProcessResult result = run_process(argv);
        EXPECT_EQ(result.status, c.status);
        EXPECT_THAT(result.out, HasSubstr(c.out));
        EXPECT_THAT(result.err, HasSubstr(c.err));
    }
}

}  // namespace
}  // namespace kivos::test
