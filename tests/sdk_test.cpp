// Commands as C and C++ developers write and build them: with kivos-cc, CMake and make,
// run end to end; and what the tools say when they refuse.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "emu/elf_file.h"
#include "harness/guest.h"
#include "harness/process.h"

namespace kivos::test {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using Args = std::vector<std::string>;

// A folder of files, and the tools run in it.
class Project {
  public:
    void write(const std::string &name, const std::string &text) const {
        fs::create_directories((folder_.path() / name).parent_path());
        write_file(folder_.path() / name, text);
    }
    ProcessResult run(const Args &argv) const { return run_process(argv, folder_.path()); }
    ProcessResult cc(Args args) const {
        args.insert(args.begin(), KIVOS_CC);
        return run(args);
    }
    fs::path path(const std::string &name) const { return folder_.path() / name; }

  private:
    TempFolder folder_;
};

const Args k_records = {"--command=t", "--description=Test", "--package=t", "--package-tag=1"};

TEST(Sdk, TheCppExampleRunsWithItsConstructorsAndOthersStartWithout) {
    const ProcessResult ran = run_process(
        {KIVOS_RUN, KIVOS_SHAPES, "square", "3", "rect", "2", "5", "triangle", "3", "5"});
    EXPECT_EQ(ran.out, "rect 2x5: 10\nsquare 3: 9\ntriangle 3x5: 7.5\n3 shapes, 26.5 in all\n");
    EXPECT_EQ(ran.status, 0);
    const ProcessResult refused = run_process({KIVOS_RUN, KIVOS_SHAPES, "rect", "2"});
    EXPECT_EQ(refused.out, "shapes: too few sizes for 'rect'\n");
    EXPECT_EQ(refused.status, 1);

    EXPECT_TRUE(emu::ElfFile::read(KIVOS_SHAPES).symbol("kivos_run_constructors"));
    for (const char *image : {KIVOS_RAM_FORECAST, KIVOS_NOTES}) {
        const emu::ElfFile elf = emu::ElfFile::read(image);
        EXPECT_EQ(elf.section(".init_array"), nullptr) << image;
        EXPECT_FALSE(elf.symbol("kivos_run_constructors")) << image;
        EXPECT_FALSE(elf.symbol("__init_array_start")) << image;
    }
}

TEST(Sdk, CppHeadersComeFromTheCompilersLibraryAndNeverFromTheHostsC) {
    Project p;
    std::string source;
    for (const char *header :
         {"new",       "initializer_list", "type_traits", "utility",  "limits",    "cstddef",
          "cstdint",   "climits",          "cstring",     "cstdlib",  "cstdio",    "array",
          "compare",   "concepts",         "bit",         "span",     "cctype",    "cassert",
          "cinttypes", "vector",           "algorithm",   "optional", "functional"})
        source += "#include <" + std::string(header) + ">\n";
    p.write("all.cpp", source);
    const ProcessResult listed = p.cc({"-E", "-H", "-o", "all.i", "all.cpp"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const std::regex host_c_header("^\\.+ /usr/include/(?!c\\+\\+/|x86_64-linux-gnu/c\\+\\+/)");
    std::istringstream lines(listed.err);
    for (std::string line; std::getline(lines, line);)
        EXPECT_FALSE(std::regex_search(line, host_c_header)) << line;
}

TEST(Sdk, ConstructorsRunByPriorityThenInLinkOrderAndDestructorsNever) {
    Project p;
    p.write("a.c", R"(#include <stdio.h>
static char g_marks[8];
static unsigned g_count;
void mark(char c) { g_marks[g_count++] = c; }
__attribute__((constructor(200))) static void second(void) { mark('B'); }
__attribute__((constructor)) static void plain_c(void) { mark('c'); }
__attribute__((destructor)) static void never(void) { puts("destructor ran"); }
int main(void) { puts(g_marks); return 0; }
)");
    p.write("b.cpp", R"(extern "C" void mark(char c);
struct Marker { explicit Marker(char c) { mark(c); } ~Marker() { mark('X'); } } g_marker('d');
__attribute__((constructor(101))) static void first() { mark('A'); }
)");
    for (const auto &[first, second, out] :
         {std::tuple{"a.c", "b.cpp", "ABcd\n"}, std::tuple{"b.cpp", "a.c", "ABdc\n"}}) {
        Args args = k_records;
        args.insert(args.end(), {first, second, "-Wall", "-Werror", "-o", "order"});
        const ProcessResult built = p.cc(args);
        ASSERT_EQ(built.status, 0) << built.err;
        EXPECT_EQ(p.run({KIVOS_RUN, "order"}).out, out);
    }
}

TEST(Sdk, ACMakeProjectAndAMakefileBuildAgainstTheInstalledSdk) {
    Project p;
    const std::string sdk = p.path("sdk");
    ASSERT_EQ(p.run({KIVOS_CMAKE, "--install", KIVOS_BUILD_DIR, "--prefix", sdk}).status, 0);
    p.write("greet/CMakeLists.txt", R"(cmake_minimum_required(VERSION 3.25)
project(greet C CXX)
include(CheckFunctionExists)
check_function_exists(qsort HAVE_QSORT)
check_function_exists(fork HAVE_FORK)
add_library(twice STATIC ../twice.c)
kivos_add_command(greet SOURCES greet.cpp DESCRIPTION "Greet \"someone\"" PACKAGE greet TAG 2)
target_link_libraries(greet PRIVATE twice)
target_compile_definitions(greet PRIVATE CHECKS="${HAVE_QSORT}0${HAVE_FORK}")
)");
    p.write("twice.c", "int twice(int x) { return 2 * x; }\n");
    p.write("greet/greet.cpp", R"(#include <cstdio>
extern "C" int twice(int);
struct Answer { int value = twice(21); } g_answer;
int main(int, char **argv) { std::printf("hello %s %d %s\n", argv[1], g_answer.value, CHECKS); }
)");
    const ProcessResult configured =
        p.run({KIVOS_CMAKE, "-S", "greet", "-B", "out",
               "-DCMAKE_TOOLCHAIN_FILE=" + sdk + "/lib/kivos/cmake/kivos-toolchain.cmake"});
    ASSERT_EQ(configured.status, 0) << configured.out << configured.err;
    const ProcessResult built = p.run({KIVOS_CMAKE, "--build", "out"});
    ASSERT_EQ(built.status, 0) << built.out << built.err;
    EXPECT_EQ(p.run({sdk + "/bin/kivos-run", "out/greet", "kivos"}).out, "hello kivos 42 10\n");
    EXPECT_THAT(p.run({sdk + "/bin/kivos-meta", "out/greet"}).out, HasSubstr("Greet \"someone\""));

    p.write("Makefile",
            "CFLAGS = -Wall -MMD\nLDFLAGS = --command=hello --description=Hi "
            "--package=hello --package-tag=1\nhello: hello.o twice.o\n");
    p.write("hello.c",
            "int printf(const char *, ...), twice(int);\n"
            "int main(void) { printf(\"made %d\\n\", twice(2)); return 0; }\n");
    const ProcessResult made = p.run({"/usr/bin/make", "CC=" + sdk + "/bin/kivos-cc", "hello"});
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    EXPECT_EQ(p.run({sdk + "/bin/kivos-run", "hello"}).out, "made 4\n");
}

TEST(Sdk, KivosCcMakesOrRefusesExactlyOneRecordOfEachKind) {
    Project p;
    // Every header of the library passes the strictest warnings.
    p.write("greet.c", R"(#include <assert.h>
#include <ctype.h>
#include <inttypes.h>
#include <limits.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
int main(int argc, char **argv) {
    assert(argc > 1);
    printf("%s %" PRIu32 "\n", argv[1], (uint32_t)strlen(argv[1]));
    return argc;
}
)");
    const ProcessResult built =
        p.cc({"-O0", "-std=c11", "-Wall", "-Wextra", "-Werror", "-Wformat=2", "greet.c", "-o",
              "greet", "--command", "greet", "--description", "Sums \"big\" \\ numbers",
              "--package", "pkg", "--package-tag", "2.1"});
    ASSERT_EQ(built.status, 0) << built.err;
    const ProcessResult ran = p.run({KIVOS_RUN, "greet", "kiwi", "b"});
    EXPECT_EQ(ran.out, "kiwi 4\n");
    EXPECT_EQ(ran.status, 3);
    const ProcessResult failed = p.run({KIVOS_RUN, "greet"});
    EXPECT_EQ(failed.out, "greet.c:10: main: Assertion 'argc > 1' failed.\n");
    EXPECT_EQ(failed.status, 1);
    EXPECT_THAT(
        p.run({KIVOS_META, "--json", "greet"}).out,
        HasSubstr("\"name\": \"greet\", \"description\": \"Sums \\\"big\\\" \\\\ numbers\", "
                  "\"package\": \"pkg\", \"tag\": \"2.1\""));

    p.write("plain.c", "int main(void) { return 0; }\n");
    p.write("both.c",
            "#include <kivos/meta.h>\nKIVOS_COMMAND_RECORD(\"both\", \"Has both\");\n"
            "KIVOS_PACKAGE_RECORD(\"both\", \"1\");\nint main(void) { return 0; }\n");
    p.write("command.cpp",
            "#include <kivos/meta.h>\nKIVOS_COMMAND_RECORD(\"again\", \"Again\");\n");
    // Another record in the section under another name: only the check can see it.
    p.write("sneaky.c",
            "__attribute__((section(\".kivos.cmdmeta\"), used, aligned(4))) static const char "
            "extra[12] = \"KCMD\\1\\0\\0\\0a\\0b\";\n");
    const std::vector<std::pair<Args, std::string>> refusals = {
        {{"plain.c"},
         "no command record: declare one with KIVOS_COMMAND_RECORD(name, description)"},
        {{"plain.c", "--command", "plain", "--description", "Plain"},
         "no package record: declare one with KIVOS_PACKAGE_RECORD(package, tag)"},
        {{"both.c", "command.cpp"}, "more than one command record"},
        {{"both.c", "--package", "p", "--package-tag", "1"}, "more than one package record"},
        {{"both.c", "sneaky.c"}, "a second record at offset 24: the section holds exactly one"},
        {{"plain.c", "--command", "plain"}, "--command and --description go together"}};
    for (const auto &[args, message] : refusals) {
        SCOPED_TRACE(testing::PrintToString(args));
        Args argv = args;
        argv.insert(argv.end(), {"-o", "refused"});
        const ProcessResult refused = p.cc(argv);
        EXPECT_EQ(refused.status, 1);
        EXPECT_THAT(refused.err, HasSubstr(message));
        EXPECT_FALSE(fs::exists(p.path("refused"))) << "a refused image is not left behind";
    }
}

// Every dependency file below the folder with its contents, and what the run printed.
std::vector<std::string> dependencies_written(const Project &p, const ProcessResult &result) {
    std::vector<std::string> found = {result.out};
    for (const auto &entry : fs::recursive_directory_iterator(p.path(""))) {
        if (entry.path().extension() != ".d") continue;
        found.push_back(fs::relative(entry.path(), p.path("")).string() + ": " +
                        read_file(entry.path()));
    }
    std::sort(found.begin(), found.end());
    return found;
}

TEST(Sdk, DependencyOptionsWriteWhatGccWrites) {
    const std::vector<Args> forms = {
        {"-c", "-MD"},
        {"-c", "-MMD", "-MP", "-MF", "dep.d"},
        {"-c", "-MD", "-MFdep.d", "-MT", "tgt", "-MQ$x"},
        {"-c", "-MD", "-MTtgt", "-MQ", "$x", "-o", "sub/x.o"},
        {"-M"},
        {"-MM", "-MF", "m.d", "-MT", "t"},
        {"-MD", "-o", "sub/image.elf", "main.c"},
        {"-MMD", "main.c"},
    };
    for (const Args &form : forms) {
        std::vector<std::vector<std::string>> written;
        for (Args argv : {Args{"/usr/bin/gcc", "-m32", "-nostdinc"}, Args{KIVOS_CC}}) {
            Project p;
            p.write("local.h", "#define ANSWER 42\n");
            p.write("a.c", "#include \"local.h\"\nint a(void) { return ANSWER; }\n");
            p.write("main.c", "int a(void);\nint main(void) { return a(); }\n");
            p.write("sub/.keep", "");
            if (argv[0] == KIVOS_CC) argv.insert(argv.end(), k_records.begin(), k_records.end());
            argv.insert(argv.end(), form.begin(), form.end());
            argv.push_back("a.c");
            written.push_back(dependencies_written(p, p.run(argv)));
        }
        EXPECT_EQ(written[1], written[0]) << testing::PrintToString(form);
    }
}

TEST(Sdk, ToolsAnswerVersionsWarningsAndRefusalsInOneLine) {
    for (const std::string tool : {KIVOS_CC, KIVOS_RUN, KIVOS_META}) {
        const ProcessResult version = run_process({tool, "--version"});
        EXPECT_EQ(version.status, 0) << tool;
        EXPECT_THAT(version.out, testing::StartsWith(fs::path(tool).filename().string() + " "));
    }
    Project p;
    p.write("bad.c", R"(#include <stdio.h>
void f(int *n) { printf("%s\n", 42); sscanf("1", "%s", n); })");
    const ProcessResult warned = p.cc({"-c", "bad.c"});
    EXPECT_EQ(warned.status, 0);
    // A warning for printf's argument and one for sscanf's.
    EXPECT_THAT(warned.err, HasSubstr("bad.c:2:27: warning: format"));
    EXPECT_THAT(warned.err, HasSubstr("bad.c:2:52: warning: format"));
    p.write("same.c", "int main(void) { return 0; }\n");
    p.write("-o.c", "int main(void) { return 0; }\n");
    const std::vector<std::pair<Args, std::string>> refusals = {
        {{"-o", "same.c", "same.c"}, "-o same.c would overwrite the input same.c"},
        {{"-c", "-osame.c", "same.c"}, "-o same.c would overwrite the input same.c"},
        {{"same.c", "--command=s", "--description=caf\xc3\xa9", "--package=s", "--package-tag=1"},
         "--description must be printable ASCII: 'caf\xc3\xa9'"},
        {{"--", "-o.c"},
         "-- is not an option, as with cc: name a source that begins with - as "
         "./-name.c"},
    };
    for (const auto &[args, message] : refusals) {
        const ProcessResult refused = p.cc(args);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, "kivos-cc: " + message + "\n");
    }
    EXPECT_EQ(p.cc({"-c", "./-o.c", "-o.obj"}).status, 0) << "-o.obj names the output";
    EXPECT_TRUE(fs::exists(p.path(".obj")));
    EXPECT_EQ(p.cc({"-c", "./-o.c"}).status, 0);
    EXPECT_TRUE(fs::exists(p.path("-o.o")));

    // -x names the language of the inputs after it: C++ and its headers for a .c file.
    p.write("cxx.c", "#include <array>\nint main() { return std::array<int, 2>{1, 2}[1]; }\n");
    p.write("c.txt", "int unused(void) { return 0; }\n");
    Args mixed = k_records;
    mixed.insert(mixed.end(), {"-xc++", "cxx.c", "-x", "c", "c.txt", "-x", "none", "-o", "mixed"});
    const ProcessResult built = p.cc(mixed);
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_EQ(p.run({KIVOS_RUN, "mixed"}).status, 2);
}

}  // namespace
}  // namespace kivos::test
