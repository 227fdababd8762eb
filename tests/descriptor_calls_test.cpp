// The kernel's meaning of the descriptor, memory and streamed-file calls, in
// one process, through the library's wrappers.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "harness/streams.h"

namespace kivos::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kFailed = 0xffffffff;

struct Step {
    std::string function;
    std::vector<uint32_t> args;
    int32_t result;
};

void run_steps(Guest &g, const std::vector<Step> &steps) {
    for (const Step &step : steps) {
        SCOPED_TRACE(step.function + " " + testing::PrintToString(step.args));
        EXPECT_EQ(static_cast<int32_t>(g.call(step.function, step.args)), step.result);
    }
}

TEST(DescriptorCalls, PipesRedirectionEndOfInputAndWouldBlock) {
    Guest g;
    const uint32_t fds = g.reserve(8), buf = g.reserve(16), big = g.reserve(70000, 'z');
    const uint32_t hello = g.place_string("hello");
    ASSERT_EQ(g.call("pipe", {fds}), 0u);
    EXPECT_EQ(g.read(fds, 8), std::string("\3\0\0\0\4\0\0\0", 8));
    run_steps(g, {
                     {"fd_set_nonblock", {3, 1}, 0},
                     {"read", {3, buf, 8}, -11},  // empty: would block
                     {"write", {4, hello, 5}, 5},
                     {"dup2", {4, 1}, 1},
                     {"puts", {hello}, 0},  // the console is the pipe now
                     {"read", {3, buf, 16}, 11},
                     {"read", {4, buf, 1}, -9},
                     {"write", {3, hello, 1}, -9},
                     {"close", {4}, 0},
                     {"read", {3, buf, 8}, -11},  // a writer is left on 1
                     {"close", {1}, 0},
                     {"read", {3, buf, 8}, 0},  // every writer gone: the end
                     {"dup", {3}, 4},
                     {"dup2", {3, 64}, -9},
                     {"fd_set_nonblock", {9, 1}, -9},
                     {"pipe", {fds}, 0},  // 1 and 5 are free: 1 is below the first file
                     {"fd_set_nonblock", {6, 1}, 0},
                     {"write", {6, big, 70000}, 65536},  // the capacity
                     {"write", {6, big, 1}, -11},
                     {"close", {5}, 0},
                     {"write", {6, big, 1}, -32},  // no reader left
                 });
    EXPECT_EQ(g.read(buf, 11), "hellohello\n");
    EXPECT_EQ(g.console(), "");
    g.call("close", {4});
    int pipes = 0;
    while (static_cast<int32_t>(g.call("pipe", {fds})) == 0) ++pipes;
    EXPECT_EQ(pipes, 29) << "64 descriptors, 4, 5 and 7 to 63 free";
    EXPECT_EQ(g.call("dup", {0}), 63u) << "a refused pipe leaves none open";
}

TEST(DescriptorCalls, FilesOpenForWritingAndNamedPipes) {
    Guest g;
    fs::create_directory(g.root() / "sub");
    const uint32_t buf = g.reserve(16), text = g.place_string("abc");
    const uint32_t file = g.place_string("f.txt"), fifo = g.place_string("sub/../p");
    run_steps(g, {
                     {"open", {file, 0x41}, 3},  // write only, created
                     {"write", {3, text, 3}, 3},
                     {"read", {3, buf, 3}, -9},
                     {"mkfifo", {fifo}, 0},
                     {"mkfifo", {file}, -17},
                     {"open", {g.place_string("/p"), 0}, 4},
                     {"open", {fifo, 1}, 5},
                     {"open", {fifo, 2}, -22},
                     {"write", {5, text, 3}, 3},
                     {"close", {5}, 0},
                     {"read", {4, buf, 16}, 3},
                     {"read", {4, buf, 16}, 0},
                     {"unlink", {fifo}, 0},
                     {"open", {fifo, 0}, -2},
                 });
    EXPECT_EQ(read_file(g.root() / "f.txt"), "abc");
    EXPECT_FALSE(fs::exists(g.root() / "p")) << "a named pipe lives in the machine only";
    int made = 0;
    while (static_cast<int32_t>(g.call("mkfifo", {g.place_string(std::to_string(made))})) == 0)
        ++made;
    EXPECT_EQ(made, 64);
}

TEST(MemoryCalls, MapsWithTheAskedProtectionsAndFreesForReuse) {
    Guest g;
    write_file(g.root() / "data", "file bytes");
    ASSERT_EQ(g.call("open", {g.place_string("data"), 0}), 3u);
    const uint32_t image_page = g.symbol("main") & ~0xfffu;
    struct Map {
        std::vector<uint32_t> args;  // addr, length, prot, flags, fd, offset
        uint32_t result;
    };
    for (const Map &m : std::vector<Map>{
             {{0, 8192, 3, 0x22, kFailed, 0}, 0x40000000},
             {{0, 100, 1, 0x02, 3, 0}, 0x40002000},  // a copy of the file
             {{0x50000000, 1, 3, 0x22, kFailed, 0}, 0x50000000},
             {{image_page, 1, 3, 0x22, kFailed, 0}, 0x40003000},  // taken: elsewhere
             {{0, 4096, 8, 0x22, kFailed, 0}, kFailed},
             {{0, 4096, 3, 0x21, kFailed, 0}, kFailed},  // shared
             {{0, 4096, 3, 0x02, 3, 0}, kFailed},        // a writable file copy
             {{0, 4096, 1, 0x02, 9, 0}, kFailed},
             {{0, 4096, 1, 0x02, 3, 100}, kFailed},
             {{0, 64u << 20, 3, 0x22, kFailed, 0}, kFailed},  // over the share
         }) {
        SCOPED_TRACE(testing::PrintToString(m.args));
        EXPECT_EQ(g.call("mmap", m.args), m.result);
    }
    EXPECT_EQ(g.read(0x40002000, 12), std::string("file bytes\0\0", 12));
    g.call("memset", {0x40000000, 'x', 8192});
    EXPECT_EQ(g.read(0x40001ffe, 2), "xx");
    run_steps(g, {
                     {"munmap", {0x40000001, 10}, -22},
                     {"munmap", {image_page, 4096}, -22},
                     {"munmap", {0x40001000, 4096}, 0},  // half of the first map
                 });
    EXPECT_EQ(g.call("mmap", {0, 4096, 3, 0x22, kFailed, 0}), 0x40001000u);
    EXPECT_EQ(g.read(0x40000fff, 2), std::string("x\0", 2)) << "fresh memory after the kept half";
    EXPECT_THROW(g.call("memset", {0x40002000, 0, 1}), GuestFault) << "read-only";
    // Code that stopped the engine (ljmp *%eax) goes with its pages: what is mapped there later
    // runs, here a comparison that answers 0.
    write_file(g.root() / "code", "\xff\xe8");
    ASSERT_EQ(g.call("open", {g.place_string("code"), 0}), 4u);
    run_steps(g, {
                     {"mmap", {0x60000000, 2, 5, 0x02, 4, 0}, 0x60000000},
                     {"munmap", {0x60000000, 4096}, 0},
                     {"mmap", {0x60000000, 4096, 7, 0x22, kFailed, 0}, 0x60000000},
                 });
    g.write(0x60000000, "\x31\xc0\xc3");
    EXPECT_NO_THROW(g.call("qsort", {g.place("ba"), 2, 1, 0x60000000}));
}

TEST(StreamCalls, TheFileAppearsWholeAtTheEnd) {
    Guest g;
    const uint32_t text = g.place("hello"), path = g.place_string("out.txt");
    run_steps(g, {
                     {"kivfs_stream_begin", {g.place_string("missing/x")}, -2},
                     {"kivfs_stream_begin", {path}, 1},
                     {"kivfs_stream_write", {1, text, 5}, 5},
                     {"kivfs_stream_write", {2, text, 5}, -9},
                 });
    EXPECT_FALSE(fs::exists(g.root() / "out.txt"));
    run_steps(g, {{"kivfs_stream_end", {1}, 5}, {"kivfs_stream_end", {1}, -9}});
    EXPECT_EQ(read_file(g.root() / "out.txt"), "hello");
    for (int32_t handle = 1; handle <= 16; ++handle)
        EXPECT_EQ(static_cast<int32_t>(g.call("kivfs_stream_begin", {path})), handle);
    EXPECT_EQ(static_cast<int32_t>(g.call("kivfs_stream_begin", {path})), -24);
}

}  // namespace
}  // namespace kivos::test
