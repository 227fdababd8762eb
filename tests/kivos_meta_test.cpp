// kivos-meta as a user and a script run it: its output, its checks and its exit statuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emu/elf_file.h"
#include "harness/guest.h"
#include "harness/process.h"

namespace kivos::test {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

ProcessResult kivos_meta(std::vector<std::string> args) {
    args.insert(args.begin(), KIVOS_META);
    return run_process(args);
}

TEST(KivosMeta, PrintsOneBlockPerImage) {
    const ProcessResult result = kivos_meta({KIVOS_RAM_FORECAST, KIVOS_NOTES});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, std::string(KIVOS_RAM_FORECAST) +
                              "\n"
                              "  name:         ram_forecast\n"
                              "  description:  Show predictive memory statistics\n"
                              "  package:      ram_forecast\n"
                              "  tag:          3\n"
                              "\n" +
                              KIVOS_NOTES +
                              "\n"
                              "  name:         notes\n"
                              "  description:  Keep a numbered list of one-line notes\n"
                              "  package:      kivos_examples\n"
                              "  tag:          1\n");
}

TEST(KivosMeta, PrintsAJsonArray) {
    const ProcessResult result = kivos_meta({"--json", KIVOS_RAM_FORECAST, KIVOS_NOTES});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string("[\n  {\"image\": \"") + KIVOS_RAM_FORECAST +
                              "\", \"name\": \"ram_forecast\", \"description\": \"Show predictive "
                              "memory statistics\", \"package\": \"ram_forecast\", \"tag\": "
                              "\"3\"},\n  {\"image\": \"" +
                              KIVOS_NOTES +
                              "\", \"name\": \"notes\", \"description\": \"Keep a numbered list "
                              "of one-line notes\", \"package\": \"kivos_examples\", \"tag\": "
                              "\"1\"}\n]\n");
    // No image readable: still an array.
    EXPECT_EQ(kivos_meta({"--json", KIVOS_PROBE_IMAGE}).out, "[]\n");
}

TEST(KivosMeta, CheckPassesEveryImageWeBuild) {
    std::vector<std::string> args = {"--check"};
    std::string expected;
    for (const char *image : {KIVOS_RAM_FORECAST, KIVOS_TEST_IMAGE, KIVOS_BIG_COMMAND,
                              KIVOS_FILE_WRITER, KIVOS_NOTES}) {
        args.push_back(image);
        expected += std::string(image) + ": ok\n";
    }
    const ProcessResult result = kivos_meta(args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, expected);
}

TEST(KivosMeta, ExitStatusSaysWhatWentWrong) {
    const TempFolder folder;
    const auto file = [&](const char *name, const std::string &bytes) {
        const fs::path path = folder.path() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    };
    std::ifstream in(KIVOS_RAM_FORECAST, std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string good = KIVOS_RAM_FORECAST;
    const std::string text = file("text", "just words\n");
    const std::string truncated = file("truncated", image.substr(0, 100));
    std::string damaged_bytes = image;
    damaged_bytes[emu::ElfFile::read(good).section(".kivos.cmdmeta")->offset] = 'X';
    const std::string damaged = file("damaged", damaged_bytes);
    const std::string missing = (folder.path() / "missing").string();

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;  // a part of standard output
        std::string err;  // a part of standard error
    };
    const std::vector<Case> cases = {
        {{}, 2, "", "IMAGE is required"},
        {{"--check", "--json", good}, 2, "", "excludes"},
        {{"--frobnicate", good}, 2, "", "frobnicate"},
        {{"--help"}, 0, "  2  usage error, or a file that is not a readable ELF32", ""},
        {{missing}, 2, "", missing + ": cannot open: No such file or directory"},
        {{text}, 2, "", text + ": not an ELF file"},
        {{truncated}, 2, "", truncated + ": program headers lie outside the file"},
        {{"--check", KIVOS_META}, 2, "", "64-bit ELF file; kivos images are ELF32"},
        {{KIVOS_PROBE_IMAGE}, 1, "", ".kivos.cmdmeta: missing: the image has no command record"},
        {{damaged}, 1, "", damaged + ": .kivos.cmdmeta: magic is \"XCMD\", not \"KCMD\""},
        {{"--check", damaged}, 1, damaged + ": .kivos.cmdmeta: magic is \"XCMD\"", ""},
        {{"--check", good, damaged}, 1, good + ": ok\n" + damaged + ": ", ""},
        {{"--check", damaged, text}, 2, damaged + ": ", text + ": not an ELF file"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const ProcessResult result = kivos_meta(c.args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_THAT(result.out, HasSubstr(c.out));
        EXPECT_THAT(result.err, HasSubstr(c.err));
    }
}

}  // namespace
}  // namespace kivos::test
