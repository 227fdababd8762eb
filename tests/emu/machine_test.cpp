// The CPU side of the machine: loading, calls, the x87 state, and guest
// faults that end a run with a report instead of harming the host.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "probe.h"

namespace kivos::test {
namespace {

// The eip a fault report names.
uint32_t reported_eip(const std::string &report) {
    unsigned eip = 0;
    const size_t at = report.rfind("at eip 0x");
    if (at != std::string::npos) std::sscanf(report.c_str() + at, "at eip 0x%x", &eip);
    return eip;
}

std::string hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

TEST(Machine, GuestFaultsAreReportedWithTheFaultingInstruction) {
    struct Case {
        const char *function;
        std::vector<uint32_t> args;
        std::string report;       // start of the report, up to " at eip"
        std::string instruction;  // the bytes at the reported eip, when checked
    };
    Guest g(probe_options());
    const uint32_t text = g.symbol("trap");
    const uint32_t data = g.symbol("data_word");
    const std::vector<Case> cases = {
        {"read_at", {0x10}, "guest fault: read from unmapped address 0x00000010", "\x8b\x00"},
        {"write_at", {0x10, 1}, "guest fault: write to unmapped address 0x00000010", "\x89\x10"},
        {"write_at", {text, 1}, "guest fault: write to read-only address 0x" + hex8(text), "\x89"},
        {"divide", {1, 0}, "guest fault: divide error", "\xf7\x7c"},
        {"halt", {}, "guest fault: general protection fault", "\xf4"},
        {"bad_instruction", {}, "guest fault: invalid instruction", "\x0f\x0b"},
        {"interrupt_0x21", {}, "guest fault: interrupt 0x21", ""},
        {"jump_to", {0x10}, "guest fault: fetch from unmapped address 0x00000010", ""},
        {"jump_to", {data}, "guest fault: fetch from non-executable address", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.report);
        const std::string report = g.fault_of(c.function, c.args);
        EXPECT_EQ(report.rfind(c.report, 0), 0u) << report;
        EXPECT_NE(report.find(" at eip 0x"), std::string::npos) << report;
        if (!c.instruction.empty()) {
            EXPECT_EQ(g.read(reported_eip(report), c.instruction.size()), c.instruction) << report;
        }
        // The same machine carries on after a fault.
        EXPECT_EQ(g.call("fpu_control"), 0x37fu);
    }
}

// A command runs at privilege level 3, and what unicorn cannot translate stops before it does.
TEST(Machine, PrivilegedAndUntranslatableInstructionsAreGuestFaults) {
    struct Case {
        std::string code;
        std::string report;
        uint32_t offset = 0;  // of the faulting instruction
    };
    const std::string protection = "general protection fault", invalid = "invalid instruction";
    const std::vector<Case> cases = {
        {"\xfa", protection},          // cli
        {"\xec", protection},          // in (%dx), %al
        {"\xe6\x80", protection},      // out %al, $0x80
        {"\x0f\x20\xc0", protection},  // mov %cr0, %eax
        {"\x0f\x22\xd8", protection},  // mov %eax, %cr3
        {"\x0f\x20\xe0", protection},  // mov %cr4, %eax
        {"\x0f\x23\xf8", protection},  // mov %eax, %dr7
        {"\x0f\x23\xe8", protection},  // mov %eax, %dr5
        {"\x0f\x01\x18", protection},  // lidt (%eax)
        {"\x0f\x32", protection},      // rdmsr
        {"\x0f\x30", protection},      // wrmsr
        {"\x0f\x34", protection},      // sysenter
        {"\x0f\x05", protection},      // syscall
        {"\x0f\x01\x38", protection},  // invlpg (%eax)
        {"\x0f\x09", protection},      // wbinvd
        // popf cannot raise the I/O privilege level: the cli after it still faults.
        {std::string("\x68\x00\x32\x00\x00\x9d\xfa", 7), protection, 6},
        {"\xff\xe8", invalid},                                 // ljmp *%eax
        {"\xff\xd8", invalid},                                 // lcall *%eax
        {"\x2e\x66\xff\xe8", invalid},                         // the same behind prefixes
        {"\x90\xff\xdf", invalid, 1},                          // lcall *%edi, after a nop
        {"\x53", "read from unmapped address 0x00000000", 1},  // then 00 00: add %al, (%eax)
        // xor %ebp,%ebp; xchg %eax,%ebp; test %eax,(%eax): counting up to the fault once had the
        // engine translate into the unmapped page after the code, which brought it down.
        {std::string("\x31\xed\x87\xc5\x85\x00", 6), "read from unmapped address 0x00000000", 4},
        // mmap a page at 0x50000000, munmap it, then read it: a page fault, not a double fault.
        {std::string("\xb8\x62\0\0\0\xbb\0\0\0\x50\xb9\0\x10\0\0\xba\x03\0\0\0\xbe\x22\0\0\0"
                     "\xbf\xff\xff\xff\xff\x31\xed\xcd\x80\xb8\x63\0\0\0\xcd\x80\xa1\0\0\0\x50",
                     46),
         "read from unmapped address 0x50000000", 41},
    };
    GuestOptions counting = probe_options();  // as kivos-run does
    counting.count_instructions = true;
    Guest g(counting);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.code));
        const uint32_t at = g.place_code(c.code);
        const std::string report = g.fault_of("jump_to", {at});
        EXPECT_EQ(report.rfind("guest fault: " + c.report, 0), 0u) << report;
        EXPECT_EQ(reported_eip(report), at + c.offset) << report;
        EXPECT_EQ(g.call("fpu_control"), 0x37fu);
    }
    // Code written at run time is screened as it is written: mmap a writable and executable page
    // at 0x50000000, store ff e8 (ljmp *%eax) there, and jump to it.
    const std::string written(
        "\xb8\x62\0\0\0\xbb\0\0\0\x50\xb9\0\x10\0\0\xba\x07\0\0\0\xbe\x22\0\0\0\xbf\xff\xff"
        "\xff\xff\x31\xed\xcd\x80\x66\xc7\x05\0\0\0\x50\xff\xe8\xb8\0\0\0\x50\xff\xe0",
        50);
    EXPECT_EQ(g.fault_of("jump_to", {g.place_code(written)}),
              "guest fault: invalid instruction at eip 0x50000000");
    g.write(0x50000100, "\xff\xd8");  // as the kernel writes, for a read: lcall *%eax
    EXPECT_THROW(g.call("jump_to", {0x50000100}), GuestFault);
}

// Resident bytes of the engines' code buffers, the only memory mapped writable and executable.
uint64_t translated_code_bytes() {
    std::ifstream maps("/proc/self/smaps");
    uint64_t total = 0;
    bool code = false;
    for (std::string line; std::getline(maps, line);) {
        char perms[5];
        unsigned long kilobytes = 0;
        if (std::sscanf(line.c_str(), "%*x-%*x %4s", perms) == 1)
            code = std::string_view(perms) == "rwxp";
        else if (code && std::sscanf(line.c_str(), "Rss: %lu kB", &kilobytes) == 1)
            total += kilobytes;
    }
    return total * 1024;
}

// A call from the host once left a translation behind that the engine never freed, and the
// engine crashed when they had filled its buffer, after about 3.5 million calls.
TEST(Machine, CallsLeaveNoTranslatedCodeBehind) {
    Guest g(probe_options());
    g.call("fpu_control");
    const uint64_t before = translated_code_bytes();
    for (int call = 0; call < 50000; ++call) g.call("fpu_control");
    EXPECT_LT(translated_code_bytes() - before, uint64_t{1} << 20);
}

TEST(Machine, LoadsDataZeroesTheBssAndPlacesBytesAtAnEdge) {
    Guest g(probe_options());
    EXPECT_EQ(g.read32(g.symbol("data_word")), 0x1234567u);
    // The file goes on past the data with the symbol table: a loader copying
    // whole pages would leave those bytes in the bss.
    EXPECT_EQ(g.call("bss_bits"), 0u);
    g.call("set_bss", {8191, 5});
    EXPECT_EQ(g.call("bss_bits"), 5u);
    const uint32_t at = g.place_at_edge("abcd");
    EXPECT_EQ(g.call("read_at", {at}), 0x64636261u);
    EXPECT_THROW(g.call("read_at", {at + 1}), GuestFault);
}

TEST(Machine, CountsInstructionsOnlyWhenAskedAndStopsAtTheLimit) {
    GuestOptions counting = probe_options();
    counting.count_instructions = true;
    Guest g(counting);
    std::vector<uint64_t> counts;
    for (uint32_t n : {0u, 100u, 200u}) {
        g.call("count_down", {n});
        counts.push_back(g.instructions());
    }
    EXPECT_GT(counts[0], 0u);
    EXPECT_GE(counts[1] - counts[0], 200u) << "at least a decrement and a branch per round";
    EXPECT_EQ(counts[2] - counts[1], counts[1] - counts[0]);

    Guest quiet(probe_options());
    quiet.call("count_down", {100});
    EXPECT_EQ(quiet.instructions(), 0u);

    GuestOptions limited = probe_options();
    limited.instruction_limit = 5000;
    Guest l(limited);
    EXPECT_EQ(l.fault_of("spin"), "instruction limit of 5000 reached");
    EXPECT_EQ(l.instructions(), 5000u);
    EXPECT_EQ(l.call("count_down", {10}), 0u) << "a short call stays under the limit";
    const RunResult result = l.run_program({"probe", "spin"});
    EXPECT_EQ(result.end, RunResult::End::limit);
}

// Counting by block must agree with the hook on every instruction, faults and limits included.
TEST(Machine, CountsByBlockExactlyAsInstructionByInstruction) {
    struct Run {
        std::string image;
        std::vector<std::string> argv;  // a program run; empty: a call of the probe
        uint64_t limit = 0;
        std::string function = "";
        std::vector<uint32_t> args = {};
    };
    const std::string ram_forecast = KIVOS_RAM_FORECAST, probe = KIVOS_PROBE_IMAGE;
    const std::vector<Run> runs = {
        {ram_forecast, {"ram_forecast"}},
        {ram_forecast, {"ram_forecast", "-h"}, 1},
        {ram_forecast, {"ram_forecast", "-h"}, 333},
        {ram_forecast, {"ram_forecast"}, 1000},
        {KIVOS_BIG_COMMAND, {"big_command"}},  // blocks cut short by the engine's size limit
        {KIVOS_BIG_COMMAND, {"big_command"}, 20000},
        {KIVOS_NOTES, {"notes", "add", "a", "note"}},
        {probe, {"probe", "fault"}},
        {probe, {"probe", "spin"}, 5000},
        {probe, {}, 0, "read_at", {16}},  // faults inside a block
        {probe, {}, 0, "divide", {1, 0}},
        {probe, {}, 0, "bad_instruction"},
        {probe, {}, 0, "halt"},
        {probe, {}, 0, "jump_to", {16}},
        {probe, {}, 1000, "count_down", {300}},
    };
    const auto outcome = [](const Run &run, bool each_instruction) {
        GuestOptions options;
        options.image = run.image;
        options.count_instructions = true;
        options.instruction_limit = run.limit;
        options.count_each_instruction = each_instruction;
        Guest g(options);
        std::string ending;
        if (!run.argv.empty()) {
            const RunResult result = g.run_program(run.argv);
            ending = std::to_string(result.status) + result.message;
        } else {
            try {
                ending = std::to_string(g.call(run.function, run.args));
            } catch (const GuestFault &fault) {
                ending = fault.what();
            }
        }
        return std::to_string(g.instructions()) + " " + ending + " " + g.console();
    };
    for (const Run &run : runs) {
        SCOPED_TRACE(run.function + testing::PrintToString(run.argv) + " limit " +
                     std::to_string(run.limit));
        EXPECT_EQ(outcome(run, false), outcome(run, true));
    }
}

}  // namespace
}  // namespace kivos::test
