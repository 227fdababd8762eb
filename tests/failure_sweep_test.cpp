// Every path that writes a stream or a file, with the k-th write, read, open or writefile
// failing, or the heap running out at each of its allocations, for every k: each call reports
// its failure, and nothing is lost that the library keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/guest.h"
#include "harness/guest_abi.h"
#include "harness/streams.h"

namespace kivos::test {
namespace {

constexpr int32_t k_eio = -5;

// The heap with room for only `room` more bytes: each room a multiple of 8 runs out at another
// allocation.
void starve(Guest &g, uint32_t room) {
    g.write32(g.symbol("g_heap_used"), k_arena_size - room);
}

TEST(FailureSweep, ConsoleCallsReportTheWriteThatFailed) {
    // Each step and the writes it makes; a failed write stops its step and no other.
    const std::vector<std::pair<const char *, std::vector<std::string>>> steps = {
        {"puts", {"ab", "\n"}},
        {"fputs", {"cd"}},
        {"fputc", {"e"}},
        {"fwrite", {"fg"}},
        {"printf", {"42", "|", "h"}}};
    const auto run = [&](Guest &g, size_t step) {
        const uint32_t out = g.read_symbol("stdout");
        const std::vector<std::vector<uint32_t>> args = {
            {g.place_string("ab")},
            {g.place_string("cd"), out},
            {'e', out},
            {g.place("fg"), 1, 2, out},
            {g.place_string("%d|%s"), 42, g.place_string("h")}};
        const uint32_t result = g.call(steps[step].first, args[step]);
        return steps[step].first == std::string("fwrite") ? result == 0 : result == k_minus_one;
    };
    size_t writes = 0;
    for (const auto &step : steps) writes += step.second.size();
    for (size_t k = 1; k <= writes; ++k) {
        Guest g;
        g.faults().fail_nth(KIVOS_SYS_write, k, k % 2 ? k_eio : 0);
        std::string expected;
        size_t write = 0;
        for (size_t step = 0; step < steps.size(); ++step) {
            bool failed = false;
            for (const std::string &piece : steps[step].second)
                if (!failed && !(failed = ++write == k)) expected += piece;
            EXPECT_EQ(run(g, step), failed) << "write " << k << " in " << steps[step].first;
        }
        EXPECT_EQ(g.console(), expected) << "write " << k;
    }
}

// A memory stream and a spooled file stream through every room the heap may have left: a write
// that cannot grow the buffer fails and leaves the stream as it was (printf keeps the pieces it
// wrote), and fclose writes the file whole or fails.
TEST(FailureSweep, BufferedStreamsKeepWhatTheyHeld) {
    const std::vector<std::string> pieces = {"hello ", "12345-xyz", std::string(300, 'a'), "!"};
    for (const bool spooled : {false, true}) {
        for (uint32_t room = 0; room <= 1024; room += 8) {
            SCOPED_TRACE((spooled ? "spooled, room " : "memory, room ") + std::to_string(room));
            Guest g;
            const uint32_t vars = g.reserve(8), path = g.place_string("out.txt");
            if (room == 1024) g.faults().fail_nth(KIVOS_SYS_writefile, 1, -28);
            starve(g, room);
            const uint32_t s = spooled ? g.call("fopen", {path, g.place_string("w")})
                                       : g.call("open_memstream", {vars, vars + 4});
            if (s == 0) {
                EXPECT_FALSE(std::filesystem::exists(g.root() / "out.txt"));
                continue;
            }
            std::string held;
            for (size_t i = 0; i < pieces.size(); ++i) {
                const std::vector<std::vector<uint32_t>> args = {
                    {g.place_string(pieces[0]), s},
                    {s, g.place_string("%d-%s"), 12345, g.place_string("xyz")},
                    {g.place(pieces[2]), 1, 300, s},
                    {'!', s}};
                const char *call = std::vector{"fputs", "fprintf", "fwrite", "fputc"}[i];
                const bool ok = g.call(call, args[i]) != (i == 2 ? 0 : k_minus_one);
                const uint32_t buf = g.read32(s + file_record::buf);
                const std::string now = buf ? g.read(buf, g.read32(s + file_record::len)) : "";
                // printf writes piece by piece: what got through before the failure stays.
                EXPECT_TRUE(ok ? now == held + pieces[i]
                               : now == held || (i == 1 && now.starts_with(held) &&
                                                 pieces[i].starts_with(now.substr(held.size()))))
                    << call;
                held = now;
                // The caller's variables follow every write that got through.
                EXPECT_TRUE(spooled ||
                            (g.read32(vars) == buf && g.read32(vars + 4) == held.size()));
            }
            const bool closed = g.call("fclose", {s}) == 0;
            EXPECT_EQ(closed, !spooled || room != 1024);
            EXPECT_TRUE(!spooled || !closed || read_file(g.root() / "out.txt") == held);
        }
    }
}

}  // namespace
}  // namespace kivos::test
