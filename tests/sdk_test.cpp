// Commands as C and C++ developers write and build them: with kivos-cc, CMake and make,
// run end to end; and what the tools say when they refuse.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "emu/elf_file.h"
#include "harness/guest.h"
#include "harness/process.h"

namespace kivos::test {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

// Files, and the tools run in the folder that holds them.
class Project {
  public:
    void write(const std::string &name, const std::string &text) const {
        fs::create_directories((folder_.path() / name).parent_path());
        std::ofstream(folder_.path() / name) << text;
    }
    ProcessResult run(const std::vector<std::string> &argv) const {
        return run_process(argv, folder_.path());
    }
    // Every dependency file below the folder, with its contents.
    std::vector<std::string> dependency_files() const {
        std::vector<std::string> found;
        for (const auto &entry : fs::recursive_directory_iterator(folder_.path())) {
            if (entry.path().extension() != ".d") continue;
            std::ifstream in(entry.path());
            found.push_back(fs::relative(entry.path(), folder_.path()).string() + ": " +
                            std::string(std::istreambuf_iterator<char>(in), {}));
        }
        std::sort(found.begin(), found.end());
        return found;
    }
    std::string path(const std::string &name) const { return (folder_.path() / name).string(); }

  private:
    TempFolder folder_;
};

const std::vector<std::string> k_records = {"--command", "t", "--description", "Test",
                                            "--package", "t", "--package-tag", "1"};

std::vector<std::string> cc(std::vector<std::string> args) {
    args.insert(args.begin(), KIVOS_CC);
    return args;
}

TEST(Sdk, TheCppExampleRunsWithItsConstructorsAndOthersStartWithout) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    const std::vector<Case> cases = {
        {{"square", "3", "rect", "2", "5", "triangle", "3", "5"},
         "rect 2x5: 10\nsquare 3: 9\ntriangle 3x5: 7.5\n3 shapes, 26.5 in all\n",
         0},
        {{}, "Usage: shapes KIND SIZE... (kinds: square, rect, triangle)\n", 2},
        {{"circle", "1"}, "shapes: unknown kind 'circle'\n", 1},
        {{"rect", "2"}, "shapes: too few sizes for 'rect'\n", 1},
    };
    for (const Case &c : cases) {
        std::vector<std::string> argv = {KIVOS_RUN, KIVOS_SHAPES};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ProcessResult ran = run_process(argv);
        EXPECT_EQ(ran.out, c.out);
        EXPECT_EQ(ran.status, c.status);
    }
    EXPECT_TRUE(emu::ElfFile::read(KIVOS_SHAPES).symbol("kivos_run_constructors"));
    for (const char *image : {KIVOS_RAM_FORECAST, KIVOS_NOTES}) {
        const emu::ElfFile elf = emu::ElfFile::read(image);
        EXPECT_EQ(elf.section(".init_array"), nullptr) << image;
        EXPECT_FALSE(elf.symbol("kivos_run_constructors")) << image;
        EXPECT_FALSE(elf.symbol("__init_array_start")) << image;
    }
}

TEST(Sdk, ConstructorsRunByPriorityThenInLinkOrderAndDestructorsNever) {
    Project p;
    p.write("order.h", "#ifdef __cplusplus\nextern \"C\"\n#endif\nvoid mark(char c);\n");
    p.write("a.c", R"(#include <stdio.h>
#include "order.h"
static char g_marks[8];
static unsigned g_count;
void mark(char c) { g_marks[g_count++] = c; }
__attribute__((constructor(200))) static void second(void) { mark('B'); }
__attribute__((constructor)) static void plain_c(void) { mark('c'); }
__attribute__((destructor)) static void never(void) { puts("destructor ran"); }
int main(void) { puts(g_marks); return 0; }
)");
    p.write("b.cpp", R"(#include "order.h"
struct Marker { explicit Marker(char c) { mark(c); } ~Marker() { mark('X'); } };
Marker g_marker('d');
__attribute__((constructor(101))) static void first() { mark('A'); }
)");
    for (const auto &[sources, out] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"a.c", "b.cpp"}, "ABcd\n"}, {{"b.cpp", "a.c"}, "ABdc\n"}}) {
        std::vector<std::string> argv = cc(k_records);
        argv.insert(argv.end(), sources.begin(), sources.end());
        argv.insert(argv.end(), {"-Wall", "-Werror", "-o", "order"});
        const ProcessResult built = p.run(argv);
        ASSERT_EQ(built.status, 0) << built.err;
        EXPECT_EQ(p.run({KIVOS_RUN, "order"}).out, out);
    }
}

TEST(Sdk, ACProgramUsesTheLibrarysHeaders) {
    Project p;
    p.write("words.c", R"(#include <assert.h>
#include <ctype.h>
#include <inttypes.h>
#include <limits.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int by_text(const void *a, const void *b) { return strcmp(*(char *const *)a, *(char *const *)b); }

int main(int argc, char **argv) {
    assert(argc > 1);
    qsort(argv + 1, (size_t)(argc - 1), sizeof *argv, by_text);
    for (int i = 1; i < argc; ++i) {
        const char *word = argv[i];
        bool shout = isupper((unsigned char)word[0]);
        int32_t digits = (int32_t)strspn(word, "0123456789");
        const char *dash = strpbrk(word, "-_");
        printf("%s %d %" PRId32 " %d %d\n", word, shout, digits, dash ? (int)(dash - word) : -1,
               (int)strcspn(word, "aeiou"));
    }
    const char *key = "kiwi";
    div_t d = div(INT_MAX, 1000);
    uint32_t scanned = 0;
    sscanf("4096", "%" SCNu32, &scanned);
    printf("%s %d %d %" PRIu32 " %d\n", bsearch(&key, argv + 1, (size_t)(argc - 1), sizeof *argv, by_text) ? "kiwi" : "-",
           d.quot, d.rem, scanned, memchr(key, 'w', 4) != NULL);
    return toupper('q') == 'Q' && tolower(EOF) == EOF ? 0 : 3;
}
)");
    const ProcessResult built = p.run(cc(
        {"-std=c11", "-Wall", "-Wextra", "-Werror", "-Wformat=2", "words.c", "-o", "words",
         "--command", "words", "--description", "Words", "--package", "w", "--package-tag", "1"}));
    ASSERT_EQ(built.status, 0) << built.err;
    const ProcessResult ran = p.run({KIVOS_RUN, "words", "pear", "Kiwi-2", "12_ab", "kiwi"});
    EXPECT_EQ(ran.out,
              "12_ab 0 2 2 3\nKiwi-2 1 0 4 1\nkiwi 0 0 -1 1\npear 0 0 -1 1\nkiwi 2147483 647 4096 "
              "1\n");
    EXPECT_EQ(ran.status, 0);
    const ProcessResult failed = p.run({KIVOS_RUN, "words"});
    EXPECT_EQ(failed.out, "words.c:14: main: Assertion 'argc > 1' failed.\n");
    EXPECT_EQ(failed.status, 1);
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
add_library(twice STATIC twice.c)
kivos_add_command(greet SOURCES greet.cpp DESCRIPTION "Greet \"someone\" kindly" PACKAGE greetings TAG 2)
target_link_libraries(greet PRIVATE twice)
target_compile_definitions(greet PRIVATE HAVE_QSORT=${HAVE_QSORT} HAVE_FORK=0${HAVE_FORK})
)");
    p.write("greet/twice.c", "int twice(int x) { return 2 * x; }\n");
    p.write("greet/greet.cpp", R"(#include <cstdio>
extern "C" int twice(int);
struct Answer { int value = twice(21); } g_answer;
int main(int argc, char **argv) {
    std::printf("hello %s %d %d%d\n", argc > 1 ? argv[1] : "you", g_answer.value, HAVE_QSORT, HAVE_FORK);
}
)");
    const ProcessResult configured =
        p.run({KIVOS_CMAKE, "-S", "greet", "-B", "out",
               "-DCMAKE_TOOLCHAIN_FILE=" + sdk + "/lib/kivos/cmake/kivos-toolchain.cmake"});
    ASSERT_EQ(configured.status, 0) << configured.out << configured.err;
    const ProcessResult built = p.run({KIVOS_CMAKE, "--build", "out"});
    ASSERT_EQ(built.status, 0) << built.out << built.err;
    EXPECT_EQ(p.run({sdk + "/bin/kivos-run", "out/greet", "kivos"}).out, "hello kivos 42 10\n");
    EXPECT_THAT(p.run({sdk + "/bin/kivos-meta", "out/greet"}).out,
                HasSubstr("Greet \"someone\" kindly"));

    p.write("make/Makefile", "CFLAGS = -Wall -MMD\nhello: hello.o twice.o\n-include hello.d\n");
    p.write("make/twice.c", "int twice(int x) { return 2 * x; }\n");
    p.write("make/hello.c", R"(#include <kivos/meta.h>
#include <stdio.h>
KIVOS_COMMAND_RECORD("hello", "Says hello");
KIVOS_PACKAGE_RECORD("hello", "1");
int twice(int x);
int main(void) { printf("made %d\n", twice(2)); return 0; }
)");
    const ProcessResult made =
        p.run({"/usr/bin/make", "-C", "make", "CC=" + sdk + "/bin/kivos-cc"});
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    EXPECT_EQ(p.run({sdk + "/bin/kivos-run", "make/hello"}).out, "made 4\n");
}

TEST(Sdk, DependencyOptionsWriteWhatGccWrites) {
    const std::vector<std::vector<std::string>> forms = {
        {"-c", "-MD"},
        {"-c", "-MMD", "-MP", "-MF", "dep.d"},
        {"-c", "-MD", "-MFdep.d", "-MT", "tgt", "-MQ$x"},
        {"-c", "-MD", "-MTtgt", "-MQ", "$x", "-o", "sub/x.o"},
        {"-M"},
        {"-MM", "-MF", "m.d", "-MT", "t"},
        {"-MD", "-o", "sub/image.elf", "main.c"},
        {"-MMD", "main.c"},
    };
    for (const std::vector<std::string> &form : forms) {
        SCOPED_TRACE(testing::PrintToString(form));
        std::vector<std::vector<std::string>> files;
        for (std::vector<std::string> argv :
             {std::vector<std::string>{"/usr/bin/gcc", "-m32", "-nostdinc"}, cc(k_records)}) {
            Project p;
            p.write("local.h", "#define ANSWER 42\n");
            p.write("a.c", "#include \"local.h\"\nint a(void) { return ANSWER; }\n");
            p.write("main.c", "int a(void);\nint main(void) { return a(); }\n");
            p.write("sub/.keep", "");
            argv.insert(argv.end(), form.begin(), form.end());
            argv.push_back("a.c");
            const ProcessResult result = p.run(argv);
            files.push_back(p.dependency_files());
            files.back().push_back(result.out);
        }
        EXPECT_EQ(files[1], files[0]);
    }
}

TEST(Sdk, ToolsAnswerVersionsWarningsAndRefusalsInOneLine) {
    for (const char *tool : {KIVOS_CC, KIVOS_RUN, KIVOS_META}) {
        const ProcessResult version = run_process({tool, "--version"});
        EXPECT_EQ(version.status, 0) << tool;
        EXPECT_THAT(version.out, testing::StartsWith(fs::path(tool).filename().string() + " "));
    }
    Project p;
    p.write("bad.c", "#include <stdio.h>\nvoid f(void) { printf(\"%s %d\\n\", 42, \"x\"); }\n");
    p.write("bad.cpp", "#include <cstdio>\nvoid f(int *n) { std::sscanf(\"1\", \"%s\", n); }\n");
    p.write("same.c", "int main(void) { return 0; }\n");
    p.write("-o.c", "int main(void) { return 0; }\n");
    for (const char *source : {"bad.c", "bad.cpp"}) {
        const ProcessResult warned = p.run(cc({"-c", source}));
        EXPECT_EQ(warned.status, 0) << source;
        EXPECT_THAT(warned.err, HasSubstr("[-Wformat=]")) << source;
    }
    struct Refusal {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Refusal> refusals = {
        {{"-o", "same.c", "same.c"}, "kivos-cc: -o same.c would overwrite the input same.c\n"},
        {{"-c", "-osame.c", "same.c"}, "kivos-cc: -o same.c would overwrite the input same.c\n"},
        {{"same.c", "--command", "s", "--description", "caf\xc3\xa9", "--package", "s",
          "--package-tag", "1"},
         "kivos-cc: --description must be printable ASCII: 'caf\xc3\xa9'\n"},
        {{"--", "-o.c"},
         "kivos-cc: -- is not an option, as with cc: name a source that begins with - as "
         "./-name.c\n"},
    };
    for (const Refusal &r : refusals) {
        const ProcessResult refused = p.run(cc(r.args));
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, r.err);
    }
    EXPECT_EQ(p.run(cc({"-c", "./-o.c", "-o.obj"})).status, 0) << "-o.obj names the output";
    EXPECT_TRUE(fs::exists(p.path(".obj")));
    EXPECT_EQ(p.run(cc({"-c", "./-o.c"})).status, 0);
    EXPECT_TRUE(fs::exists(p.path("-o.o")));
}

}  // namespace
}  // namespace kivos::test
