// Processes of one machine: children and the pipes between them, waiting,
// named pipes, limits, deadlocks, the same interleaving on every run, and
// the example shell end to end.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "emu/scheduler.h"
#include "harness/process.h"
#include "harness/streams.h"

namespace kivos::test {
namespace {

namespace fs = std::filesystem;

struct System {
    RunResult result;
    std::string console;
    std::vector<std::string> trace;  // "pid line"
};

// /family ROLE on a fresh machine over `root`, which holds the image.
System run_family(const fs::path &root, const std::string &role, uint64_t limit = 0) {
    emu::Kernel kernel({.root = root});
    kernel.console().capture();
    kernel.input().provide("");
    emu::Scheduler scheduler(kernel, {.machine = {}, .instruction_limit = limit});
    System system{scheduler.run(emu::ElfImage::load(root / "family"), {"family", role}), {}, {}};
    system.console = kernel.console().captured();
    for (const auto &record : kernel.trace().records())
        system.trace.push_back(std::to_string(record.pid) + " " + record.line);
    return system;
}

class Processes : public testing::Test {
  protected:
    void SetUp() override { fs::copy_file(KIVOS_OUT "/family", root_.path() / "family"); }
    TempFolder root_;
};

TEST_F(Processes, ChildrenTalkThroughPipesAndAreWaitedFor) {
    struct Case {
        std::string role, console;
    };
    for (const Case &c : std::vector<Case>{
             {"talk", "PING 1 768\n"},  // there and back; status 3 << 8
             // Still running under no-hang; a faulted child, then the other, in the
             // order they ended; none left; refused arguments.
             {"wait", "0 1 11 1 768 -10 -22 -22\n"},
             {"fifo", "0 -17 hello 0\n"},
             {"crowd", "15 -11\n"},  // the first process and 15 children at once
         }) {
        SCOPED_TRACE(c.role);
        const System system = run_family(root_.path(), c.role);
        EXPECT_EQ(system.result.end, RunResult::End::exited) << system.result.message;
        EXPECT_EQ(system.console, c.console);
    }
}

TEST_F(Processes, DeadlocksLimitsAndUnfinishedStreamsEndCleanly) {
    const System stuck = run_family(root_.path(), "deadlock");
    EXPECT_EQ(stuck.result.end, RunResult::End::deadlock);
    EXPECT_EQ(stuck.result.message,
              "deadlock: every process waits for another (1 in waitpid, 2 in read)");
    const ProcessResult tool =
        run_process({KIVOS_RUN, "--root", root_.path(), root_.path() / "family", "deadlock"});
    EXPECT_EQ(tool.status, 123);
    EXPECT_EQ(tool.err, "kivos-run: " + stuck.result.message + "\n");

    // The limit counts every process: the first alone stays far below it.
    EXPECT_EQ(run_family(root_.path(), "crowd", 3000).result.end, RunResult::End::limit);
    EXPECT_EQ(run_family(root_.path(), "half").result.end, RunResult::End::exited);
    EXPECT_FALSE(fs::exists(root_.path() / "half")) << "a stream never ended leaves no file";
}

TEST_F(Processes, TheSameRunInterleavesTheSameWay) {
    const System first = run_family(root_.path(), "crowd");
    EXPECT_EQ(first.trace, run_family(root_.path(), "crowd").trace);
    std::set<std::string> pids;
    for (const std::string &line : first.trace) pids.insert(line.substr(0, line.find(' ')));
    EXPECT_EQ(pids.size(), 16u);
}

TEST(Shell, RunsAPipelineIntoAStreamedFile) {
    const TempFolder root;
    fs::create_directory(root.path() / "bin");
    for (const std::string name : {"count", "upper"})
        fs::copy_file(KIVOS_OUT "/" + name, root.path() / "bin" / name);
    write_file(root.path() / "notes.txt", "buy milk\nfix the bike\ncall mum\n");
    const auto sh = [&](const std::string &line, std::vector<std::string> options = {}) {
        options.insert(options.begin(), {KIVOS_RUN, "--root", root.path()});
        options.insert(options.end(), {KIVOS_OUT "/sh", line});
        return run_process(options);
    };
    const ProcessResult run = sh("count < notes.txt | upper > out.txt", {"--trace", "--stats"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(read_file(root.path() / "out.txt"), "3 LINES, 7 WORDS, 31 BYTES\n");
    EXPECT_NE(run.err.find("\n[2] read(0, "), std::string::npos) << "pids once there are two";
    EXPECT_NE(run.err.find("\nprocess 3 (upper)\ninstructions: "), std::string::npos);

    EXPECT_EQ(sh("count < notes.txt").out, "3 lines, 7 words, 31 bytes\n");
    EXPECT_EQ(sh("upper | nosuch").status, 127);
    EXPECT_EQ(sh("upper >").status, 2);
}

}  // namespace
}  // namespace kivos::test
