// Fault reports of an image built with -g: what, where in the source, how it got there.
#include <gtest/gtest.h>

#include <regex>

#include "debug/debuggee.h"
#include "harness/process.h"

namespace kivos::test {
namespace {

TEST(CrashReport, NamesFunctionFileAndLineOfEveryFrame) {
    struct Case {
        std::string path;
        std::string what;
        std::vector<std::pair<std::string, std::string>> frames;  // function, text of its line
    };
    const std::vector<Case> cases = {
        {"null",
         "read from unmapped address 0x00000000",
         {{"dereference", "return *pointer;"},
          {"through", "return dereference(pointer) + 1;"},
          {"main", "return through(0);"}}},
        {"deep", "stack overflow", {{"recurse", "frame[depth & 255] = (char)depth;"}}},
        {"divide", "divide error", {{"divide", "return dividend / divisor;"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        const ProcessResult result = run_process({KIVOS_RUN, KIVOS_DEBUGGEE, c.path});
        EXPECT_EQ(result.status, 126);
        EXPECT_EQ(result.err.rfind("kivos-run: guest fault: " + c.what, 0), 0u) << result.err;
        EXPECT_NE(result.err.find("\n  eax 0x"), std::string::npos) << result.err;
        std::string frames;
        for (size_t i = 0; i < c.frames.size(); ++i)
            frames += "  #" + std::to_string(i) + " 0x[0-9a-f]{8} in " + c.frames[i].first +
                      "\\+0x[0-9a-f]+ at \\S*debuggee\\.c:" +
                      std::to_string(debuggee_line(c.frames[i].second)) + "\n";
        EXPECT_TRUE(std::regex_search(result.err, std::regex(frames))) << result.err;
    }
}

}  // namespace
}  // namespace kivos::test
