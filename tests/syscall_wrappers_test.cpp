// The system-call wrappers: call numbers, registers, clamps, and the checks
// that refuse without trapping.
#include <gtest/gtest.h>

#include <filesystem>

#include "harness/guest.h"
#include "harness/guest_abi.h"

namespace kivos::test {
namespace {

constexpr uint32_t k_clamped = 0x7fffffff;

TEST(SyscallWrappers, EachLoadsItsCallNumberAndRegistersOrRefusesWithoutTrap) {
    struct Case {
        std::string function;
        std::vector<uint32_t> args;
        uint32_t number;
        // The registers from ebx on, where they differ from the arguments; a register the
        // wrapper leaves alone is not listed.
        std::optional<std::vector<uint32_t>> loaded = std::nullopt;
    };
    Guest g;
    const uint32_t path = g.place_string("no-such-file");
    const uint32_t buf = g.reserve(64), argv = g.reserve(16);
    const std::vector<Case> cases = {
        {"write", {1, buf, 0}, 1},
        {"write", {7, buf, 0x80000000}, 1, {{7, buf, k_clamped}}},
        {"read", {9, buf, 0xffffffff}, 3, {{9, buf, k_clamped}}},
        {"open", {path, 0}, 4, {{path, 0, 0}}},
        {"open", {path, 0x41, 0644}, 4, {{path, 0x41, 0x41}}},
        {"creat", {path, 0644}, 4, {{path, 0x241, 0}}},
        {"close", {42}, 5},
        {"getkey", {}, 6},
        {"writefile", {path, buf, 0xfffffff0}, 21, {{path, buf, k_clamped}}},
        {"usleep", {250}, 22},
        {"mkdir", {path, 0755}, 49, {{path}}},
        {"unlink", {path}, 50},
        {"rmdir", {path}, 51},
        {"getcwd", {buf, 0x90000000}, 52, {{buf, k_clamped, 0}}},
        {"kivfs_stream_begin", {path}, 53},
        {"kivfs_stream_write", {k_minus_one, buf, 0x80000001}, 54, {{k_minus_one, buf, k_clamped}}},
        {"kivfs_stream_end", {3}, 55},
        {"chdir", {path}, 95},
        {"mmap", {0x1000, 8192, 3, 0x22, k_minus_one, 0x3000}, 98},
        {"munmap", {0x1000, 8192}, 99, {{0x1000, 8192, 0}}},
        {"lseek", {3, k_minus_one, 2}, 110},
        {"pipe", {buf}, 124},
        {"mkfifo", {path, 0600}, 125, {{path}}},
        {"dup", {4}, 126},
        {"dup2", {4, 7}, 127, {{4, 7, 0}}},
        {"fd_set_inherit", {5}, 128, {{1}}},
        {"fd_set_inherit", {0}, 128},
        {"fd_set_stdio", {7, k_minus_one, 9}, 129},
        {"fd_set_nonblock", {3, 7}, 130, {{3, 1, 0}}},
        {"spawn", {path, argv, 2}, 131},
        {"spawn", {path, argv, 0}, 131},
        {"spawn_ex", {path, argv, 0, 0, 0, 0, 0}, 150, {{}}},  // registers: see below
        {"waitpid", {12, buf, 1}, 132}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function + testing::PrintToString(c.args));
        g.clear_trace();
        const uint32_t result = g.call(c.function, c.args);
        ASSERT_EQ(g.trace().size(), 1u);
        const auto &trap = g.trace()[0];
        EXPECT_EQ(trap.number, c.number);
        const std::vector<uint32_t> &loaded = c.loaded ? *c.loaded : c.args;
        for (size_t i = 0; i < loaded.size(); ++i) EXPECT_EQ(trap.args[i], loaded[i]) << i;
        EXPECT_EQ(result, static_cast<uint32_t>(trap.result)) << "the kernel's answer passes on";
    }

    g.clear_trace();
    for (const char *function :
         {"mkdir", "unlink", "rmdir", "kivfs_stream_begin", "chdir", "pipe", "mkfifo", "access"})
        EXPECT_EQ(g.call(function, {0}), k_minus_one) << function << "(0)";
    const std::vector<std::pair<std::string, std::vector<uint32_t>>> refusals = {
        {"write", {1, 0, 5}},
        {"read", {0, 0, 1}},
        {"open", {0, 0}},
        {"creat", {0, 0644}},
        {"writefile", {0, buf, 3}},
        {"writefile", {path, 0, 3}},
        {"getcwd", {0, 64}},
        {"getcwd", {buf, 0}},
        {"kivfs_stream_write", {3, 0, 1}},
        {"mmap", {0, 0, 3, 0x22, k_minus_one, 0}},
        {"spawn", {path, argv, k_minus_one}},
        {"spawn", {0, argv, 1}},
        {"spawn_ex", {path, argv, k_minus_one, 0, 0, 0, 0}},
        {"spawn_ex", {0, argv, 1, 0, 0, 0, 0}}};
    for (const auto &[function, args] : refusals)
        EXPECT_EQ(g.call(function, args), k_minus_one) << function << testing::PrintToString(args);
    EXPECT_TRUE(g.trace().empty()) << "refused before any trap";
}

TEST(SyscallWrappers, SleepsReturnZeroWhateverTheKernelSays) {
    const std::vector<std::tuple<std::string, uint32_t, std::vector<uint32_t>>> cases = {
        {"usleep", 0xffffffff, {0xffffffff}},
        {"sleep", 0, {0}},
        {"sleep", 4294, {4294000000u}},
        // Longer sleeps do not wrap: they are slept in pieces that fit.
        {"sleep", 4295, {4294000000u, 1000000}},
        {"sleep", 10000, {4294000000u, 4294000000u, 1412000000u}},
    };
    for (const auto &[function, argument, microseconds] : cases) {
        SCOPED_TRACE(function + " " + std::to_string(argument));
        Guest g;
        g.faults().fail_nth(KIVOS_SYS_usleep, 1, -22);
        EXPECT_EQ(g.call(function, {argument}), 0u);
        EXPECT_EQ(g.traps(KIVOS_SYS_usleep, 0), microseconds);
        EXPECT_EQ(g.trace().size(), microseconds.size());
    }
}

TEST(SyscallWrappers, ExitHaltsShouldTheKernelComeBack) {
    Guest g;
    g.faults().fail_nth(KIVOS_SYS__exit, 1, -5);
    EXPECT_EQ(g.fault_of("_exit", {7}).rfind("guest fault: general protection fault", 0), 0u);
}

TEST(SyscallWrappers, GetcwdAndAccessAnswerWithWhatTheCallerExpects) {
    Guest g;
    std::filesystem::create_directory(g.root() / "sub");
    write_file(g.root() / "present", "x");
    EXPECT_EQ(g.call("chdir", {g.place_string("sub")}), 0u);
    const uint32_t buf = g.reserve(16);
    EXPECT_EQ(g.call("getcwd", {buf, 16}), buf) << "the caller's buffer";
    EXPECT_EQ(g.read_string(buf), "/sub");
    EXPECT_EQ(static_cast<int32_t>(g.call("getcwd", {buf, 4})), -34) << "too small";

    g.clear_trace();
    EXPECT_EQ(g.call("access", {g.place_string("/present"), 4}), 0u);
    EXPECT_EQ(g.trap_numbers(), (std::vector<uint32_t>{KIVOS_SYS_open, KIVOS_SYS_close}));
    EXPECT_EQ(g.traps(KIVOS_SYS_open, 1), std::vector<uint32_t>{0}) << "read-only";
    EXPECT_EQ(g.traps(KIVOS_SYS_open, 2), std::vector<uint32_t>{0});
    EXPECT_EQ(g.traps(KIVOS_SYS_close, 0),
              std::vector<uint32_t>{static_cast<uint32_t>(g.trace()[0].result)});
    g.clear_trace();
    EXPECT_EQ(g.call("access", {g.place_string("absent"), 0}), k_minus_one);
    EXPECT_EQ(g.trace().size(), 1u) << "nothing to close after a failed open";
}

}  // namespace
}  // namespace kivos::test
