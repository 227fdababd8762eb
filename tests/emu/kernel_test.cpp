// The kernel's calls as a guest sees them: console, files, folders, the
// sandbox's walls, injected faults and the trace.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

#include <kivos/abi.h>

#include "emu/guest_error.h"
#include "probe.h"

namespace kivos::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kCreate = KIVOS_O_CREAT;
constexpr uint32_t kTruncate = KIVOS_O_TRUNC;

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// A call whose first register is a path placed for it.
int32_t sys_path(Guest &g, uint32_t number, const std::string &path,
                 std::vector<uint32_t> more = {}) {
    more.insert(more.begin(), g.place_string(path));
    return sys(g, number, more);
}

TEST(Kernel, ConsoleAndStandardInput) {
    Guest g(probe_options());
    const uint32_t text = g.place("hello"), edge = g.place_at_edge("tail");
    const uint32_t buf = g.reserve(8, '.');
    write_file(g.root() / "data.txt", "x");
    ASSERT_EQ(sys_path(g, KIVOS_SYS_open, "data.txt", {0}), 3);
    g.set_stdin("abc");
    // Only descriptor 1 writes, and only from memory the guest may read; a bad buffer consumes
    // nothing of standard input.
    constexpr uint32_t w = KIVOS_SYS_write, r = KIVOS_SYS_read;
    const std::vector<std::vector<uint32_t>> cases = {
        {w, 1, text, 5, 5},    {w, 1, text, 0, 0},    {w, 0, text, 5, -9u}, {w, 3, text, 5, -9u},
        {w, 1, 0x10, 5, -14u}, {w, 1, edge, 5, -14u}, {w, 1, edge, 4, 4},   {r, 0, 0x10, 2, -14u},
        {r, 0, buf, 2, 2},     {r, 0, buf + 2, 8, 1}, {r, 0, buf, 8, 0},    {r, 1, buf, 8, -9u}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c));
        EXPECT_EQ(sys(g, c[0], {c[1], c[2], c[3]}), static_cast<int32_t>(c[4]));
    }
    EXPECT_EQ(g.console(), "hellotail");
    EXPECT_EQ(g.read(buf, 4), "abc.");
    g.set_stdin(std::string("x\xff", 2));
    EXPECT_EQ(sys(g, KIVOS_SYS_getkey), 'x');
    EXPECT_EQ(sys(g, KIVOS_SYS_getkey), 0xff);
    EXPECT_EQ(sys(g, KIVOS_SYS_getkey), -1);
}

TEST(Kernel, OpensReadsSeeksAndClosesFiles) {
    Guest g(probe_options());
    write_file(g.root() / "data.txt", "0123456789");
    fs::create_directory(g.root() / "folder");
    const uint32_t buf = g.reserve(16);

    EXPECT_EQ(sys_path(g, KIVOS_SYS_open, "data.txt", {0}), 3);
    EXPECT_EQ(sys_path(g, KIVOS_SYS_open, "/data.txt", {0}), 4);
    EXPECT_EQ(sys(g, KIVOS_SYS_close, {3}), 0);
    EXPECT_EQ(sys(g, KIVOS_SYS_close, {3}), -9);
    EXPECT_EQ(sys_path(g, KIVOS_SYS_open, "data.txt", {0}), 3) << "the lowest free descriptor";
    EXPECT_EQ(sys(g, KIVOS_SYS_read, {4, buf, 4}), 4);
    EXPECT_EQ(g.read(buf, 4), "0123");
    // Descriptor, offset, origin, result.
    const std::vector<std::vector<uint32_t>> seeks = {
        {4, 2, 1, 6},      {4, -3u, 2, 7},      {4, 100, 0, 100},
        {4, -1u, 0, -22u}, {4, -200u, 1, -22u}, {4, 0, 3, -22u},
        {9, 0, 0, -9u},    {0, 0, 0, -29u},     {4, 0x7fffffff, 1, -75u},
        {4, 8, 0, 8}};
    for (const auto &s : seeks) {
        SCOPED_TRACE(testing::PrintToString(s));
        EXPECT_EQ(sys(g, KIVOS_SYS_lseek, {s[0], s[1], s[2]}), static_cast<int32_t>(s[3]));
    }
    EXPECT_EQ(sys(g, KIVOS_SYS_read, {4, buf, 16}), 2);
    EXPECT_EQ(g.read(buf, 2), "89");
    EXPECT_EQ(sys(g, KIVOS_SYS_read, {4, buf, 16}), 0);

    const std::vector<std::tuple<std::string, uint32_t, int32_t>> opens = {
        {"missing", 0, -2},           {"", 0, -2},
        {"data.txt", 0x1000, -22},    {"data.txt", 3, -22},
        {"folder", 0, -21},           {"data.txt/x", 0, -20},
        {"missing/new", kCreate, -2}, {std::string(5000, 'a'), 0, -36}};
    for (const auto &[path, flags, result] : opens) {
        SCOPED_TRACE(path.substr(0, 20));
        EXPECT_EQ(sys_path(g, KIVOS_SYS_open, path, {flags}), result);
    }
    EXPECT_EQ(sys(g, KIVOS_SYS_open, {0x10, 0}), -14);
    EXPECT_EQ(sys(g, KIVOS_SYS_open, {g.place_at_edge("data.txt"), 0}), -14) << "no NUL";
    EXPECT_EQ(sys_path(g, KIVOS_SYS_open, "new.txt", {kCreate | 1, kCreate | 1}), 5);
    EXPECT_TRUE(fs::exists(g.root() / "new.txt"));
    EXPECT_EQ(sys(g, KIVOS_SYS_write, {5, buf, 1}), 1) << "opened for writing";
    EXPECT_GE(sys_path(g, KIVOS_SYS_open, "data.txt", {kTruncate}), 0);
    EXPECT_EQ(fs::file_size(g.root() / "data.txt"), 0u);
}

TEST(Kernel, WritesWholeFilesAndManagesFolders) {
    Guest g(probe_options());
    const uint32_t text = g.place("hello");
    struct Step {
        uint32_t number;
        const char *path;
        std::vector<uint32_t> more;
        int32_t result;
    };
    for (const Step &s : std::vector<Step>{
             {KIVOS_SYS_writefile, "out/x.txt", {text, 5}, -2},
             {KIVOS_SYS_mkdir, "out", {}, 0},
             {KIVOS_SYS_mkdir, "out", {}, -17},
             {KIVOS_SYS_writefile, "out/x.txt", {text, 5}, 5},
             {KIVOS_SYS_writefile, "/out/y.txt", {text, 2}, 2},
             {KIVOS_SYS_writefile, "out/y.txt", {0x10, 2}, -14},
             {KIVOS_SYS_writefile, "out", {text, 2}, -21},
             {KIVOS_SYS_unlink, "out", {}, -21},
             {KIVOS_SYS_rmdir, "out", {}, -39},
             {KIVOS_SYS_unlink, "out/x.txt", {}, 0},
             {KIVOS_SYS_unlink, "out/x.txt", {}, -2},
             {KIVOS_SYS_rmdir, "out/y.txt", {}, -20},
             {KIVOS_SYS_unlink, "out/y.txt", {}, 0},
             {KIVOS_SYS_rmdir, "out", {}, 0},
             {KIVOS_SYS_unlink, ".", {}, -22},
             {KIVOS_SYS_mkdir, "..", {}, -22},
             {KIVOS_SYS_rmdir, "/", {}, -22},
             {KIVOS_SYS_mkdir, "", {}, -2},
             {KIVOS_SYS_writefile, "empty", {text, 0}, 0},
             // A trailing slash names a folder or nothing.
             {KIVOS_SYS_writefile, "newf/", {text, 1}, -21},
             {KIVOS_SYS_writefile, "empty/", {text, 1}, -20},
             {KIVOS_SYS_unlink, "empty/", {}, -20},
             {KIVOS_SYS_open, "empty/", {0}, -20},
             {KIVOS_SYS_open, "newf/", {kCreate}, -21},
             {KIVOS_SYS_mkdir, "dir/", {}, 0},
             {KIVOS_SYS_unlink, "dir/", {}, -21},
             {KIVOS_SYS_rmdir, "dir//", {}, 0},
         }) {
        SCOPED_TRACE(std::to_string(s.number) + " " + s.path);
        EXPECT_EQ(sys_path(g, s.number, s.path, s.more), s.result);
    }
    EXPECT_EQ(read_file(g.root() / "empty"), "");
    EXPECT_FALSE(fs::exists(g.root() / "newf"));
    EXPECT_EQ(sys_path(g, KIVOS_SYS_writefile, "f", {text, 5}), 5);
    EXPECT_EQ(sys_path(g, KIVOS_SYS_writefile, "f", {text, 2}), 2);
    EXPECT_EQ(read_file(g.root() / "f"), "he") << "writefile truncates";
}

// A FIFO would block the machine for good, and opening a device can act on the host.
TEST(Kernel, OpensOnlyRegularFilesAndFolders) {
    Guest g(probe_options());
    ASSERT_EQ(::mkfifo((g.root() / "fifo").c_str(), 0644), 0);
    const uint32_t fifo = g.place_string("fifo");
    for (const uint32_t flags : {0u, kCreate, kTruncate, kCreate | kTruncate | 1})
        EXPECT_EQ(sys(g, KIVOS_SYS_open, {fifo, flags}), -13) << flags;
    EXPECT_EQ(sys(g, KIVOS_SYS_writefile, {fifo, g.place("x"), 1}), -13);
    EXPECT_EQ(sys(g, KIVOS_SYS_unlink, {fifo}), 0) << "the name itself may go";
}

TEST(Kernel, KeepsACurrentFolderInsideTheRoot) {
    Guest g(probe_options());
    const uint32_t buf = g.reserve(64, '.');
    // The answer is the buffer itself, so the C getcwd hands the caller its string.
    const auto cwd = [&] {
        const int32_t n = sys(g, KIVOS_SYS_getcwd, {buf, 64});
        return n < 0 ? std::to_string(n) : g.read_string(static_cast<uint32_t>(n));
    };
    EXPECT_EQ(cwd(), "/");
    fs::create_directories(g.root() / "a" / "b");
    write_file(g.root() / "file", "");
    fs::create_directory_symlink("a/b", g.root() / "short");

    EXPECT_EQ(sys_path(g, KIVOS_SYS_chdir, "a/b"), 0);
    EXPECT_EQ(cwd(), "/a/b");
    EXPECT_EQ(sys(g, KIVOS_SYS_getcwd, {buf, 5}), static_cast<int32_t>(buf));
    EXPECT_EQ(sys(g, KIVOS_SYS_getcwd, {buf, 4}), -34);
    EXPECT_EQ(sys(g, KIVOS_SYS_getcwd, {0x10, 64}), -14);
    EXPECT_EQ(sys_path(g, KIVOS_SYS_chdir, ".."), 0);
    EXPECT_EQ(cwd(), "/a");
    EXPECT_EQ(sys_path(g, KIVOS_SYS_writefile, "rel", {buf, 1}), 1);
    EXPECT_TRUE(fs::exists(g.root() / "a" / "rel")) << "relative paths start at the current folder";
    EXPECT_EQ(sys_path(g, KIVOS_SYS_open, "/file", {0}), 3) << "absolute paths start at the root";
    EXPECT_EQ(sys_path(g, KIVOS_SYS_chdir, "/short"), 0);
    EXPECT_EQ(cwd(), "/a/b") << "links resolve to where they lead";
    EXPECT_EQ(sys_path(g, KIVOS_SYS_chdir, "../../.."), 0);
    EXPECT_EQ(cwd(), "/") << "nothing above the root";
    EXPECT_EQ(sys_path(g, KIVOS_SYS_chdir, "missing"), -2);
    EXPECT_EQ(sys_path(g, KIVOS_SYS_chdir, "file"), -20);
    EXPECT_EQ(sys_path(g, KIVOS_SYS_chdir, ""), -2);
}

TEST(Kernel, NoPathOrLinkLeavesTheRoot) {
    TempFolder outside;
    write_file(outside.path() / "secret", "keep");
    Guest g(probe_options());
    fs::create_directory_symlink(outside.path(), g.root() / "link");
    fs::create_symlink(outside.path() / "secret", g.root() / "evil");
    fs::create_directory_symlink("../../../../../../..", g.root() / "up");
    fs::create_symlink("/proc/self/root", g.root() / "magic");
    const std::string there = outside.path().string(), up = "up" + there;
    const uint32_t text = g.place("gotcha");
    const std::vector<std::tuple<uint32_t, std::string, std::vector<uint32_t>>> attempts = {
        {KIVOS_SYS_open, "../secret", {0}},
        {KIVOS_SYS_open, there + "/secret", {0}},
        {KIVOS_SYS_open, "link/secret", {0}},
        {KIVOS_SYS_open, up + "/secret", {0}},
        {KIVOS_SYS_open, "evil", {0}},
        {KIVOS_SYS_open, "magic" + there + "/secret", {0}},
        {KIVOS_SYS_open, "link/made", {kCreate}},
        {KIVOS_SYS_writefile, "link/secret", {text, 6}},
        {KIVOS_SYS_writefile, "evil", {text, 6}},
        {KIVOS_SYS_writefile, up + "/made", {text, 6}},
        {KIVOS_SYS_mkdir, "link/made", {}},
        {KIVOS_SYS_unlink, "link/secret", {}},
        {KIVOS_SYS_unlink, up + "/secret", {}},
        {KIVOS_SYS_rmdir, "/../../" + there, {}},
        {KIVOS_SYS_chdir, "link", {}}};
    for (const auto &[number, path, more] : attempts) {
        SCOPED_TRACE(std::to_string(number) + " " + path);
        EXPECT_LT(sys_path(g, number, path, more), 0);
    }
    EXPECT_EQ(read_file(outside.path() / "secret"), "keep");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside.path()), fs::directory_iterator()), 1);
    EXPECT_EQ(sys_path(g, KIVOS_SYS_unlink, "link"), 0) << "a link itself may go";
    EXPECT_TRUE(fs::exists(outside.path() / "secret"));
}

TEST(Kernel, InjectedFaultsShortenTransfersAndFailChosenCalls) {
    Guest g(probe_options());
    const uint32_t text = g.place("0123456789");
    const uint32_t buf = g.reserve(16);
    g.faults().cap_write(3);
    g.faults().cap_read(2);
    g.faults().fail_nth(KIVOS_SYS_write, 2, -5);
    g.faults().fail_nth(KIVOS_SYS_write, 4, 0);
    g.faults().fail_nth(KIVOS_SYS_open, 1, -24);
    g.set_stdin("abcdef");
    write_file(g.root() / "f", "");
    EXPECT_EQ(sys(g, KIVOS_SYS_write, {1, text, 10}), 3);
    EXPECT_EQ(sys(g, KIVOS_SYS_write, {1, text, 10}), -5);
    EXPECT_EQ(sys(g, KIVOS_SYS_write, {1, text + 3, 1}), 1);
    EXPECT_EQ(sys(g, KIVOS_SYS_write, {1, text, 10}), 0);
    EXPECT_EQ(g.console(), "0123") << "a failed call does nothing";
    EXPECT_EQ(sys(g, KIVOS_SYS_read, {0, buf, 16}), 2);
    EXPECT_EQ(sys_path(g, KIVOS_SYS_open, "f", {0}), -24);
    EXPECT_EQ(sys_path(g, KIVOS_SYS_open, "f", {0}), 3);
    EXPECT_TRUE(g.trace()[1].line.ends_with(" = -5")) << "the trace shows the injected result";
}

// What the machine keeps of a call does not grow with the number of distinct numbers tried.
TEST(Kernel, UnknownCallNumbersTakeNoMemory) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer keeps freed memory, so the resident size says nothing";
#endif
    Guest g(probe_options());
    g.kernel().trace().keep_records(false);
    const auto resident_bytes = [] {
        size_t pages = 0, resident = 0;
        std::ifstream("/proc/self/statm") >> pages >> resident;
        return resident * 4096;
    };
    const auto numbers = [&](const char *count) {
        ASSERT_EQ(g.run_program({"probe", "numbers", count}).status, 0);
    };
    numbers("1000");
    const size_t before = resident_bytes();
    numbers("300000");
    EXPECT_LT(resident_bytes() - before, 8u << 20);
}

TEST(Kernel, HostErrorsBecomeKivosErrors) {
    EXPECT_EQ(emu::guest_error(ENOTEMPTY), -39);
    EXPECT_EQ(emu::guest_error(EXDEV), -5) << "an error kivos has no name for";
}

TEST(Kernel, TracesEveryTrapLikeStrace) {
    Guest g(probe_options());
    const uint32_t text = g.place(std::string_view("hi\0", 3)), buf = g.reserve(16);
    const uint32_t input = g.reserve(40);
    g.set_stdin(std::string(40, 'y'));
    const uint32_t odd = g.place_string("a\"b\\\n\x01");
    const uint32_t long_path = g.place_string(std::string(60, 'x'));
    const std::vector<std::pair<std::vector<uint32_t>, std::string>> cases = {
        {{KIVOS_SYS_write, 1, text, 3}, "write(1, \"hi\\x00\", 3) = 3"},
        {{KIVOS_SYS_read, 0, input, 40}, "read(0, \"" + std::string(32, 'y') + "\"..., 40) = 40"},
        {{KIVOS_SYS_read, 0, input, 40}, "read(0, \"\", 40) = 0"},
        {{KIVOS_SYS_read, 7, input, 40}, "read(7, " + hex(input) + ", 40) = -9"},
        {{KIVOS_SYS_write, 0xffffffff, 0, 0xffffffff}, "write(-1, NULL, 4294967295) = -9"},
        {{KIVOS_SYS_open, odd, 0, 0}, "open(\"a\\\"b\\\\\\n\\x01\", 0x0, 0x0) = -2"},
        {{KIVOS_SYS_open, long_path, 0, 0},
         "open(\"" + std::string(32, 'x') + "\"..., 0x0, 0x0) = -2"},
        {{KIVOS_SYS_mkdir, 0x10}, "mkdir(0x10) = -14"},
        // An answer that is an address reads as one, unless it is a failure.
        {{KIVOS_SYS_getcwd, buf, 16}, "getcwd(" + hex(buf) + ", 16) = " + hex(buf)},
        {{KIVOS_SYS_getcwd, buf, 1}, "getcwd(" + hex(buf) + ", 1) = -34"},
        {{KIVOS_SYS_lseek, 3, 0xfffffffe, 1}, "lseek(3, -2, 1) = -9"},
        {{KIVOS_SYS_mmap, 0, 4096, 3, 0x22, 0xffffffff, 0},
         "mmap(NULL, 4096, 0x3, 0x22, -1, 0) = 0x40000000"},
        {{77, 1, 2, 3, 4, 5, 6}, "syscall_77(0x1, 0x2, 0x3, 0x4, 0x5, 0x6) = -38"},
        {{KIVOS_SYS_usleep, 0xffffffff}, "usleep(4294967295) = 0"},
        {{KIVOS_SYS__exit, 0xffffffff}, "_exit(-1)"}};
    for (const auto &[registers, line] : cases) {
        SCOPED_TRACE(line);
        g.clear_trace();
        sys(g, registers[0], {registers.begin() + 1, registers.end()});
        ASSERT_EQ(g.trace().size(), 1u);
        EXPECT_EQ(g.trace()[0].line, line);
    }
    EXPECT_EQ(g.exit_status(), -1);
    EXPECT_FALSE(g.trace()[0].returned);
    EXPECT_EQ(g.kernel().virtual_microseconds(), 0xffffffffu) << "sleeps pass on a virtual clock";
}

}  // namespace
}  // namespace kivos::test
