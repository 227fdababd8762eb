// The system-call wrappers: call numbers, registers, clamps, and the checks
// that refuse without trapping.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "harness/guest.h"

namespace kivos::test {
namespace {

constexpr uint32_t k_clamped = 0x7fffffff;
constexpr uint32_t k_minus_one = 0xffffffff;

// The registers a call loads; a register the wrapper leaves alone is not compared.
struct Registers {
    uint32_t number;
    std::vector<uint32_t> loaded;
};

struct WrapperCase {
    std::string label;
    std::string function;
    std::vector<uint32_t> args;
    std::optional<Registers> trap;  // none: refused with -1 before any trap
};

// Fills in guest addresses: the case table is built against a live guest.
std::vector<WrapperCase> wrapper_cases(Guest &g) {
    const uint32_t path = g.place_string("no-such-file");
    const uint32_t buf = g.reserve(64);
    const uint32_t argv = g.reserve(16);
    return {
        {"write", "write", {1, buf, 5}, Registers{1, {1, buf, 5}}},
        {"write count 0 still traps", "write", {1, buf, 0}, Registers{1, {1, buf, 0}}},
        {"write null buffer", "write", {1, 0, 5}, std::nullopt},
        {"write count clamped", "write", {7, buf, 0x80000000}, Registers{1, {7, buf, k_clamped}}},
        {"read count clamped", "read", {9, buf, 0xffffffff}, Registers{3, {9, buf, k_clamped}}},
        {"read null buffer", "read", {0, 0, 1}, std::nullopt},
        {"open read-only", "open", {path, 0}, Registers{4, {path, 0, 0}}},
        {"open with create", "open", {path, 0x41, 0644}, Registers{4, {path, 0x41, 0x41}}},
        {"open null path", "open", {0, 0}, std::nullopt},
        {"creat ignores the mode", "creat", {path, 0644}, Registers{4, {path, 0x241, 0}}},
        {"creat null path", "creat", {0, 0644}, std::nullopt},
        {"close", "close", {42}, Registers{5, {42}}},
        {"getkey", "getkey", {}, Registers{6, {}}},
        {"writefile", "writefile", {path, buf, 3}, Registers{21, {path, buf, 3}}},
        {"writefile clamped",
         "writefile",
         {path, buf, 0xfffffff0},
         Registers{21, {path, buf, k_clamped}}},
        {"writefile null path", "writefile", {0, buf, 3}, std::nullopt},
        {"writefile null buffer", "writefile", {path, 0, 3}, std::nullopt},
        {"usleep", "usleep", {250}, Registers{22, {250}}},
        {"mkdir ignores a mode", "mkdir", {path, 0755}, Registers{49, {path}}},
        {"mkdir null path", "mkdir", {0}, std::nullopt},
        {"unlink", "unlink", {path}, Registers{50, {path}}},
        {"unlink null path", "unlink", {0}, std::nullopt},
        {"rmdir", "rmdir", {path}, Registers{51, {path}}},
        {"rmdir null path", "rmdir", {0}, std::nullopt},
        {"getcwd", "getcwd", {buf, 64}, Registers{52, {buf, 64, 0}}},
        {"getcwd size clamped", "getcwd", {buf, 0x90000000}, Registers{52, {buf, k_clamped, 0}}},
        {"getcwd null buffer", "getcwd", {0, 64}, std::nullopt},
        {"getcwd size 0", "getcwd", {buf, 0}, std::nullopt},
        {"stream begin", "kivfs_stream_begin", {path}, Registers{53, {path}}},
        {"stream begin null path", "kivfs_stream_begin", {0}, std::nullopt},
        {"stream write, handle untested",
         "kivfs_stream_write",
         {k_minus_one, buf, 0x80000001},
         Registers{54, {k_minus_one, buf, k_clamped}}},
        {"stream write null buffer", "kivfs_stream_write", {3, 0, 1}, std::nullopt},
        {"stream end", "kivfs_stream_end", {3}, Registers{55, {3}}},
        {"chdir", "chdir", {path}, Registers{95, {path}}},
        {"chdir null path", "chdir", {0}, std::nullopt},
        {"mmap",
         "mmap",
         {0x1000, 8192, 3, 0x22, k_minus_one, 0x3000},
         Registers{98, {0x1000, 8192, 3, 0x22, k_minus_one, 0x3000}}},
        {"mmap length 0", "mmap", {0, 0, 3, 0x22, k_minus_one, 0}, std::nullopt},
        {"munmap", "munmap", {0x1000, 8192}, Registers{99, {0x1000, 8192, 0}}},
        {"lseek", "lseek", {3, k_minus_one, 2}, Registers{110, {3, k_minus_one, 2}}},
        {"pipe", "pipe", {buf}, Registers{124, {buf}}},
        {"pipe null", "pipe", {0}, std::nullopt},
        {"mkfifo ignores a mode", "mkfifo", {path, 0600}, Registers{125, {path}}},
        {"mkfifo null path", "mkfifo", {0}, std::nullopt},
        {"dup", "dup", {4}, Registers{126, {4}}},
        {"dup2", "dup2", {4, 7}, Registers{127, {4, 7, 0}}},
        {"fd_set_inherit reduces to 1", "fd_set_inherit", {5}, Registers{128, {1}}},
        {"fd_set_inherit 0", "fd_set_inherit", {0}, Registers{128, {0}}},
        {"fd_set_stdio", "fd_set_stdio", {7, k_minus_one, 9}, Registers{129, {7, k_minus_one, 9}}},
        {"fd_set_nonblock reduces to 1", "fd_set_nonblock", {3, 7}, Registers{130, {3, 1, 0}}},
        {"spawn", "spawn", {path, argv, 2}, Registers{131, {path, argv, 2}}},
        {"spawn negative count", "spawn", {path, argv, k_minus_one}, std::nullopt},
        {"spawn null path", "spawn", {0, argv, 1}, std::nullopt},
        {"waitpid", "waitpid", {12, buf, 1}, Registers{132, {12, buf, 1}}},
        {"spawn_ex negative count",
         "spawn_ex",
         {path, argv, k_minus_one, 0, 0, 0, 0},
         std::nullopt},
        {"spawn_ex null path", "spawn_ex", {0, argv, 1, 0, 0, 0, 0}, std::nullopt},
    };
}

TEST(SyscallWrappers, EachLoadsItsCallNumberAndRegistersOrRefusesWithoutTrap) {
    Guest g;
    for (const WrapperCase &c : wrapper_cases(g)) {
        SCOPED_TRACE(c.label);
        g.clear_trace();
        const uint32_t result = g.call(c.function, c.args);
        if (!c.trap) {
            EXPECT_EQ(result, k_minus_one);
            EXPECT_TRUE(g.trace().empty());
            continue;
        }
        ASSERT_EQ(g.trace().size(), 1u);
        const auto &trap = g.trace()[0];
        EXPECT_EQ(trap.number, c.trap->number);
        for (size_t i = 0; i < c.trap->loaded.size(); ++i) {
            EXPECT_EQ(trap.args[i], c.trap->loaded[i]) << "register " << i;
        }
        EXPECT_EQ(result, static_cast<uint32_t>(trap.result))
            << "the kernel's answer passes through";
    }
}

TEST(SyscallWrappers, SleepsReturnZeroWhateverTheKernelSays) {
    struct Case {
        std::string function;
        uint32_t argument;
        std::vector<uint32_t> microseconds;  // one trap of call 22 each
    };
    const std::vector<Case> cases = {
        {"usleep", 0xffffffff, {0xffffffff}},
        {"sleep", 3, {3000000}},
        {"sleep", 0, {0}},
        {"sleep", 4294, {4294000000u}},
        // Longer sleeps do not wrap: they are slept in pieces that fit.
        {"sleep", 4295, {4294000000u, 1000000}},
        {"sleep", 10000, {4294000000u, 4294000000u, 1412000000u}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function + " " + std::to_string(c.argument));
        Guest g;
        g.faults().fail_nth(22, 1, -22);
        EXPECT_EQ(g.call(c.function, {c.argument}), 0u);
        ASSERT_EQ(g.trace().size(), c.microseconds.size());
        for (size_t i = 0; i < c.microseconds.size(); ++i) {
            EXPECT_EQ(g.trace()[i].number, 22u);
            EXPECT_EQ(g.trace()[i].args[0], c.microseconds[i]);
        }
    }
}

TEST(SyscallWrappers, SpawnExBuildsItsBlockOnTheStack) {
    Guest g;
    const uint32_t path = g.place_string("/bin/tool");
    const uint32_t argv = g.reserve(8);
    // The kernel reads the block during the call; the trace keeps its address.
    g.call("spawn_ex", {path, argv, 2, 0xa, 0xb, 0xc, 9});
    ASSERT_EQ(g.trace().size(), 1u);
    const auto &trap = g.trace()[0];
    EXPECT_EQ(trap.number, 150u);
    EXPECT_EQ(trap.args[1], 2u);
    EXPECT_EQ(trap.args[2], 9u) << "the flag goes in edx unchanged";
    const uint32_t block = trap.args[0];
    const std::vector<uint32_t> expected = {path, argv, 2, 0xa, 0xb, 0xc, 1};
    for (uint32_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(g.read32(block + 4 * i), expected[i]) << "word " << i;
    }
}

TEST(SyscallWrappers, AccessOpensAndClosesAgain) {
    Guest g;
    std::ofstream(g.root() / "present") << "x";
    EXPECT_EQ(g.call("access", {g.place_string("present"), 4}), 0u);
    ASSERT_EQ(g.trace().size(), 2u);
    EXPECT_EQ(g.trace()[0].number, 4u);
    EXPECT_EQ(g.trace()[0].args[1], 0u);
    EXPECT_EQ(g.trace()[0].args[2], 0u);
    EXPECT_EQ(g.trace()[1].number, 5u);
    EXPECT_EQ(g.trace()[1].args[0], static_cast<uint32_t>(g.trace()[0].result));

    g.clear_trace();
    EXPECT_EQ(g.call("access", {g.place_string("absent"), 0}), k_minus_one);
    ASSERT_EQ(g.trace().size(), 1u) << "nothing to close after a failed open";
    EXPECT_EQ(g.call("access", {0, 0}), k_minus_one);
}

TEST(SyscallWrappers, ExitNeverReturnsToTheCaller) {
    Guest g;
    g.call("_exit", {7});
    EXPECT_EQ(g.exit_status(), 7);
}

}  // namespace
}  // namespace kivos::test
