// kivos-run --coverage: the lines a program ran, merged over runs, in an lcov tracefile.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "debug/debuggee.h"
#include "debug/lcov_file.h"
#include "harness/guest.h"
#include "harness/process.h"

namespace kivos::test {
namespace {

std::string slurp(const std::filesystem::path &path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

TEST(Coverage, CountsTheLinesOfEveryRunInOneTracefile) {
    const TempFolder folder;
    const std::string tracefile = (folder.path() / "runs.info").string();
    EXPECT_EQ(run_process({KIVOS_RUN, "--coverage", tracefile, KIVOS_DEBUGGEE}).status, 42);
    EXPECT_EQ(run_process({KIVOS_RUN, "--coverage", tracefile, KIVOS_DEBUGGEE, "null"}).status,
              126);
    const auto counts = debug::parse_lcov(slurp(tracefile));
    const auto &lines = counts.at(KIVOS_DEBUGGEE_SOURCE);
    const struct {
        int line;
        uint64_t runs;
    } cases[] = {
        {debuggee_line("int doubled = value * 2;"), 4},
        {debuggee_line("return *pointer;"), 1},
        {debuggee_line("return *pointer;") + 1, 0},  // the fault came first
        {debuggee_line("return dividend / divisor;"), 0},
        {debuggee_line("if (strcmp(path, \"deep\") == 0)"), 1},
    };
    for (const auto &c : cases) EXPECT_EQ(lines.at(c.line), c.runs) << "line " << c.line;
    EXPECT_FALSE(lines.contains(debuggee_line("int total;"))) << "no code, no line";

    std::ofstream(folder.path() / "other") << "not coverage\n";
    const ProcessResult refused =
        run_process({KIVOS_RUN, "--coverage", (folder.path() / "other").string(), KIVOS_DEBUGGEE});
    EXPECT_EQ(refused.status, 125) << refused.err;
    EXPECT_EQ(slurp(folder.path() / "other"), "not coverage\n");
}

}  // namespace
}  // namespace kivos::test
