// Reading, positioning and status of streams (fread, fgetc, getchar, fseek, ftell, rewind,
// feof, ferror, fflush, setbuf), run inside the kivos machine on files of its sandbox.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "harness/guest.h"
#include "harness/streams.h"
#include "harness/guest_abi.h"

namespace kivos::test {
namespace {

using namespace std::string_literals;

constexpr uint32_t k_seek_set = 0;
constexpr uint32_t k_seek_end = 2;

struct State {
    uint32_t position;
    uint32_t eof_flag;
    bool operator==(const State &) const = default;
};

std::ostream &operator<<(std::ostream &out, const State &s) {
    return out << "position " << s.position << ", eof_flag " << s.eof_flag;
}

State state_of(Guest &g, uint32_t stream) {
    return {g.read32(stream + file_record::position), g.read32(stream + file_record::eof_flag)};
}

size_t reads(const Guest &g) {
    size_t n = 0;
    for (const auto &trap : g.trace()) n += trap.number == KIVOS_SYS_read;
    return n;
}

TEST(Fgetc, BytesEndOfFileAndRewind) {
    Guest g;
    const uint32_t s = open_for_reading(g, "bytes", "A\xff\0B"s);
    for (uint32_t expected : {0x41u, 0xffu, 0u, 0x42u}) EXPECT_EQ(g.call("fgetc", {s}), expected);
    EXPECT_EQ(state_of(g, s), (State{4, 0}));
    EXPECT_EQ(g.call("fgetc", {s}), k_minus_one);
    EXPECT_EQ(g.call("feof", {s}), 1u);
    g.clear_trace();
    EXPECT_EQ(g.call("fgetc", {s}), k_minus_one) << "the flag does not stop a read";
    EXPECT_EQ(reads(g), 1u);
    EXPECT_EQ(state_of(g, s), (State{4, 1}));

    g.write32(s + file_record::error_flag, 1);
    g.call("rewind", {s});
    EXPECT_EQ(state_of(g, s), (State{0, 0}));
    EXPECT_EQ(g.call("ferror", {s}), 0u);
    EXPECT_EQ(g.call("fgetc", {s}), 0x41u);

    // A failed read counts as the end.
    g.faults().fail_nth(KIVOS_SYS_read, 8, -5);
    EXPECT_EQ(g.call("fgetc", {s}), k_minus_one);
    EXPECT_EQ(state_of(g, s), (State{1, 1}));
}

TEST(Fread, OneReadAndWholeItems) {
    struct Case {
        uint32_t file_size;
        uint32_t size;
        uint32_t count;
        uint32_t read_cap;  // 0: none
        uint32_t expected;
        State expected_state;
        size_t expected_reads;
    };
    const std::vector<Case> cases = {
        {38, 4, 10, 0, 9, {38, 1}, 1}, {40, 4, 10, 0, 10, {40, 0}, 1},
        {40, 4, 10, 7, 1, {7, 1}, 1},  // a short read is taken as the end
        {40, 8, 1, 3, 0, {3, 1}, 1},   // the bytes of a partial item still count
        {0, 1, 1, 0, 0, {0, 1}, 1},    {10, 0x10000, 0x10000, 0, 0, {0, 0}, 0},
        {10, 0, 4, 0, 0, {0, 0}, 0},   {10, 4, 0, 0, 0, {0, 0}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " x " + std::to_string(c.count) + " of " +
                     std::to_string(c.file_size) + " cap " + std::to_string(c.read_cap));
        Guest g;
        std::string content;
        for (uint32_t i = 0; i < c.file_size; ++i) content += static_cast<char>(i + 1);
        const uint32_t s = open_for_reading(g, "data", content);
        if (c.read_cap != 0) g.faults().cap_read(c.read_cap);
        const uint32_t buf = g.reserve(64, '#');
        g.clear_trace();
        EXPECT_EQ(g.call("fread", {buf, c.size, c.count, s}), c.expected);
        EXPECT_EQ(state_of(g, s), c.expected_state);
        EXPECT_EQ(reads(g), c.expected_reads);
        const uint32_t got = c.expected_state.position;
        EXPECT_EQ(g.read(buf, got + 1), content.substr(0, got) + '#');
    }
}

TEST(Fseek, PositionsComeFromTheKernel) {
    Guest g;
    const uint32_t s = open_for_reading(g, "data", "0123456789");
    const uint32_t buf = g.reserve(16);
    EXPECT_EQ(g.call("fread", {buf, 1, 5, s}), 5u);
    EXPECT_EQ(g.call("ftell", {s}), 5u);
    EXPECT_EQ(g.call("fseek", {s, 2, k_seek_set}), 0u);
    EXPECT_EQ(g.call("ftell", {s}), 2u);
    EXPECT_EQ(g.call("fgetc", {s}), static_cast<uint32_t>('2'));

    // Reading past the end, then seeking back, clears the flag.
    EXPECT_EQ(g.call("fread", {buf, 1, 16, s}), 7u);
    EXPECT_EQ(state_of(g, s), (State{10, 1}));
    EXPECT_EQ(g.call("fseek", {s, static_cast<uint32_t>(-3), k_seek_end}), 0u);
    EXPECT_EQ(state_of(g, s), (State{7, 0}));
    EXPECT_EQ(g.call("fgetc", {s}), static_cast<uint32_t>('7'));

    // A refused seek changes nothing.
    g.write32(s + file_record::eof_flag, 1);
    EXPECT_EQ(g.call("fseek", {s, static_cast<uint32_t>(-20), k_seek_set}), k_minus_one);
    EXPECT_EQ(g.call("fseek", {s, 0, 9}), k_minus_one);
    EXPECT_EQ(state_of(g, s), (State{8, 1}));
    g.write32(s + file_record::error_flag, 1);
    EXPECT_EQ(g.call("fseek", {s, 0, k_seek_set}), 0u);
    EXPECT_EQ(g.call("ferror", {s}), 1u) << "fseek leaves the error flag alone";

    // rewind whose seek fails still clears the flags.
    g.call("fgetc", {s});
    g.write32(s + file_record::eof_flag, 1);
    g.write32(s + file_record::fd, 99);
    g.call("rewind", {s});
    EXPECT_EQ(state_of(g, s), (State{1, 0}));
    EXPECT_EQ(g.call("ferror", {s}), 0u);
}

TEST(StreamReading, RefusedWhereTheKindOrDescriptorCannot) {
    Guest g;
    g.set_stdin("xy");
    const uint32_t in = standard_stream(g, "stdin");
    const uint32_t vars = g.reserve(8);
    const uint32_t memory = g.call("open_memstream", {vars, vars + 4});
    const uint32_t spooled = g.call("fopen", {g.place_string("out"), g.place_string("w")});
    const uint32_t buf = g.reserve(16);

    for (uint32_t s : {in, standard_stream(g, "stdout"), standard_stream(g, "stderr")}) {
        SCOPED_TRACE(s);
        g.clear_trace();
        EXPECT_EQ(g.call("fseek", {s, 0, k_seek_set}), k_minus_one);
        EXPECT_EQ(g.call("ftell", {s}), k_minus_one);
        g.write32(s + file_record::eof_flag, 1);
        g.call("rewind", {s});
        EXPECT_EQ(g.call("feof", {s}), 0u);
        EXPECT_TRUE(g.trace().empty()) << "the kernel is not asked";
    }
    EXPECT_EQ(g.call("getchar"), static_cast<uint32_t>('x'));
    EXPECT_EQ(g.call("fgetc", {in}), static_cast<uint32_t>('y'));
    EXPECT_EQ(g.call("getchar"), k_minus_one);
    EXPECT_EQ(state_of(g, in), (State{2, 1}));

    for (uint32_t s : {memory, spooled, 0u}) {
        SCOPED_TRACE(s);
        g.clear_trace();
        EXPECT_EQ(g.call("fread", {buf, 1, 4, s}), 0u);
        EXPECT_EQ(g.call("fgetc", {s}), k_minus_one);
        EXPECT_EQ(g.call("fseek", {s, 0, k_seek_set}), k_minus_one);
        EXPECT_EQ(g.call("ftell", {s}), k_minus_one);
        EXPECT_EQ(g.call("fflush", {s}), 0u);
        g.call("setbuf", {s, buf});
        EXPECT_TRUE(g.trace().empty());
        if (s == 0) continue;
        EXPECT_EQ(state_of(g, s), (State{0, 0}));
        EXPECT_EQ(g.call("feof", {s}), 0u);
        EXPECT_EQ(g.call("ferror", {s}), 0u);
    }
    g.call("rewind", {0});
    EXPECT_EQ(g.call("feof", {0}), 1u);
    EXPECT_EQ(g.call("ferror", {0}), 1u);
    EXPECT_EQ(g.call("fread", {0, 1, 4, in}), 0u);

    // With stdin pointing elsewhere, getchar reads there.
    const uint32_t file = open_for_reading(g, "data", "z");
    g.write32(g.symbol("stdin"), file);
    EXPECT_EQ(g.call("getchar"), static_cast<uint32_t>('z'));
    g.write32(g.symbol("stdin"), 0);
    EXPECT_EQ(g.call("getchar"), k_minus_one);
}

}  // namespace
}  // namespace kivos::test
