// kivos-cc as a kivos developer uses it: C and C++ commands that run, records
// from the sources or from options, images refused with a reason, and the
// installed toolchain.
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

class KivosCc : public testing::Test {
  protected:
    void write(const std::string &name, const std::string &text) const {
        fs::create_directories((work_.path() / name).parent_path());
        std::ofstream(work_.path() / name) << text;
    }
    bool exists(const std::string &name) const { return fs::exists(work_.path() / name); }
    std::string path(const std::string &name) const { return (work_.path() / name).string(); }

    // A tool run in the work folder; the first argument is the tool's path.
    ProcessResult run(std::vector<std::string> argv) const {
        return run_process(argv, work_.path());
    }
    ProcessResult cc(std::vector<std::string> args, const std::string &tool = KIVOS_CC) const {
        args.insert(args.begin(), tool);
        return run(args);
    }

    TempFolder work_;
};

// Many small functions, each called once, so the code passes 20 KiB at -O0; each adds 1 in
// the end, so the exit status is argc.
std::string big_c_program() {
    std::string source = "#include <stdio.h>\n";
    std::string calls;
    for (int i = 0; i < 600; ++i) {
        const std::string n = std::to_string(i);
        source += "static unsigned step" + n + "(unsigned x) { unsigned y = x * " + n +
                  "u; y ^= y >> 3; return x + 1u + (y & 0u); }\n";
        calls += "    x = step" + n + "(x);\n";
    }
    return source + "int main(int argc, char **argv) {\n    unsigned x = (unsigned)argc;\n" +
           "    (void)argv;\n" + calls + "    fputs(\"big C ran\\n\", stdout);\n" +
           "    return (int)(x - 600u);\n}\n";
}

TEST_F(KivosCc, BuildsALargeCProgramWithRecordsFromOptions) {
    write("big.c", big_c_program());
    const ProcessResult built =
        cc({"-O0", "-Wall", "-Werror", "big.c", "-o", "big", "--command", "big", "--description",
            "Sums \"big\" \\ numbers", "--package", "bigpkg", "--package-tag", "2.1"});
    ASSERT_EQ(built.status, 0) << built.err;

    const emu::ElfFile elf = emu::ElfFile::read(path("big"));
    EXPECT_GT(elf.section(".text")->size, 20u * 1024);
    EXPECT_GT(elf.section(".kivos.cmdmeta")->addr, 0x406000u) << "the records moved past the code";

    const ProcessResult ran = run({KIVOS_RUN, "big", "a", "b"});
    EXPECT_EQ(ran.out, "big C ran\n");
    EXPECT_EQ(ran.status, 3);

    const ProcessResult meta = run({KIVOS_META, "--json", "big"});
    EXPECT_EQ(meta.out,
              "[\n  {\"image\": \"big\", \"name\": \"big\", \"description\": \"Sums \\\"big\\\" "
              "\\\\ numbers\", \"package\": \"bigpkg\", \"tag\": \"2.1\"}\n]\n");
}

TEST_F(KivosCc, BuildsACppProgramFromObjectsWithOrdinaryOptions) {
    write("include/greeting.h", "#pragma once\nconstexpr const char *k_greeting = GREETING;\n");
    write("hello.cpp", R"(#include <kivos/meta.h>
#include <stdio.h>
#include <string.h>
#include "greeting.h"

KIVOS_COMMAND_RECORD("hello", "Greets by name");
KIVOS_PACKAGE_RECORD("hello", "1");

template <typename T, unsigned N> constexpr unsigned count_of(const T (&)[N]) { return N; }
struct Counter { int seen = 0; void see(const char *word) { seen += strlen(word) > 0; } };
int main(int argc, char **argv) {
    Counter counter;
    for (int i = 1; i < argc; ++i) counter.see(argv[i]);
    static constexpr int squares[] = {0, 1, 4, 9, 16};
    fputs(k_greeting, stdout);
    puts(argc > 1 ? argv[1] : "nobody");
    return squares[counter.seen % count_of(squares)];
}
)");
    const ProcessResult compiled = cc({"-c", "-Wall", "-Wextra", "-Werror", "-Iinclude",
                                       "-DGREETING=\"Hello, \"", "hello.cpp", "-o", "hello.o"});
    ASSERT_EQ(compiled.status, 0) << compiled.err;
    const ProcessResult linked = cc({"hello.o", "-o", "hello"});
    ASSERT_EQ(linked.status, 0) << linked.err;

    const ProcessResult ran = run({KIVOS_RUN, "hello", "kivos", "x"});
    EXPECT_EQ(ran.out, "Hello, kivos\n");
    EXPECT_EQ(ran.status, 4);
    EXPECT_EQ(run({KIVOS_META, "--check", "hello"}).out, "hello: ok\n");
}

TEST_F(KivosCc, RefusesAnImageWithoutExactlyOneRecordOfEachKind) {
    write("plain.c", "int main(void) { return 0; }\n");
    write("both.c",
          "#include <kivos/meta.h>\nKIVOS_COMMAND_RECORD(\"both\", \"Has both\");\n"
          "KIVOS_PACKAGE_RECORD(\"both\", \"1\");\nint main(void) { return 0; }\n");
    write("command.cpp", "#include <kivos/meta.h>\nKIVOS_COMMAND_RECORD(\"again\", \"Again\");\n");
    // Another record in the section under another name: only the check can see it.
    write("sneaky.c",
          "__attribute__((section(\".kivos.cmdmeta\"), used, aligned(4))) static const char "
          "extra[12] = \"KCMD\\1\\0\\0\\0a\\0b\";\n");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"plain.c"},
         "kivos-cc: no command record: declare one with KIVOS_COMMAND_RECORD(name, description)"},
        {{"plain.c", "--command", "plain", "--description", "Plain"},
         "kivos-cc: no package record: declare one with KIVOS_PACKAGE_RECORD(package, tag)"},
        {{"both.c", "command.cpp"}, "kivos-cc: more than one command record"},
        {{"both.c", "--package", "p", "--package-tag", "1"},
         "kivos-cc: more than one package record"},
        {{"both.c", "sneaky.c"}, "a second record at offset 24: the section holds exactly one"},
        {{"plain.c", "--command", "plain"}, "kivos-cc: --command and --description go together"},
        {{"plain.c", "--command", "tab\there", "--description", "x", "--package", "p",
          "--package-tag", "1"},
         "--command must be printable ASCII"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", "refused"});
        const ProcessResult result = cc(args);
        EXPECT_EQ(result.status, 1);
        EXPECT_THAT(result.err, HasSubstr(c.message));
        EXPECT_FALSE(exists("refused")) << "a refused image is not left behind";
    }
}

TEST_F(KivosCc, InstalledToolchainBuildsACommandThatRuns) {
    const std::string prefix = path("prefix");
    const ProcessResult installed =
        run({KIVOS_CMAKE, "--install", KIVOS_BUILD_DIR, "--prefix", prefix});
    ASSERT_EQ(installed.status, 0) << installed.out << installed.err;

    write("hello.c", R"(#include <kivos/meta.h>
#include <unistd.h>
KIVOS_COMMAND_RECORD("hello", "Says hello");
KIVOS_PACKAGE_RECORD("hello", "1");
int main(void) { write(1, "hello\n", 6); return 0; }
)");
    const ProcessResult built = cc({"hello.c", "-o", "hello"}, prefix + "/bin/kivos-cc");
    ASSERT_EQ(built.status, 0) << built.err;
    const ProcessResult ran = run({prefix + "/bin/kivos-run", "hello"});
    EXPECT_EQ(ran.status, 0);
    EXPECT_EQ(ran.out, "hello\n");
    EXPECT_EQ(run({prefix + "/bin/kivos-meta", "--check", "hello"}).out, "hello: ok\n");
}

}  // namespace
}  // namespace kivos::test
