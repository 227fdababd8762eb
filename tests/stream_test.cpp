// Streams: making and finishing them (fopen, open_memstream, fclose), the buffer that memory and
// spooled file streams grow, writing, reading, positioning and status, run inside the kivos
// machine and against files of its sandbox.
#include <gtest/gtest.h>

#include "harness/streams.h"

namespace kivos::test {
namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

constexpr uint32_t k_seek_set = 0;
constexpr uint32_t k_seek_end = 2;
constexpr uint32_t k_bad_fd = static_cast<uint32_t>(-9);

uint32_t write_bytes(Guest &g, uint32_t stream, const std::string &bytes) {
    return g.call("file_write_bytes",
                  {stream, g.place(bytes), static_cast<uint32_t>(bytes.size())});
}

uint32_t heap_used(const Guest &g) {
    return g.read_symbol("g_heap_used");
}

TEST(Fopen, StandardNamesModesAndMissingFiles) {
    Guest g;
    write_file(g.root() / "there", "x");
    const uint32_t in = g.read_symbol("stdin"), out = g.read_symbol("stdout");
    const uint32_t dash = g.place_string("-"), there = g.place_string("there");
    struct Case {
        uint32_t path;
        const char *mode;  // null: a null mode
        uint32_t expected;
        bool opens;
    };
    const std::vector<Case> cases = {
        {dash, "r", in, false},     {dash, "rb", in, false},
        {0, "r+", in, false},       {dash, "w", out, false},
        {0, "wb", out, false},      {dash, "a", 0, false},
        {0, "", 0, false},          {dash, nullptr, 0, false},
        {there, "a", 0, false},     {there, "x", 0, false},
        {there, nullptr, 0, false}, {g.place_string("missing"), "r", 0, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.mode ? c.mode : "(null mode)") + " " + std::to_string(c.path));
        g.clear_trace();
        EXPECT_EQ(g.call("fopen", {c.path, c.mode ? g.place_string(c.mode) : 0}), c.expected);
        EXPECT_EQ(g.trace().size(), c.opens ? 1u : 0u);
    }
    // The standard names follow the pointers as they are at the call.
    g.write32(g.symbol("stdin"), out);
    EXPECT_EQ(g.call("fopen", {dash, g.place_string("r")}), out);
}

TEST(Fopen, MakesZeroedRecordsAndNothingWhenTheArenaIsFull) {
    Guest g;
    write_file(g.root() / "data", "abc");
    const uint32_t path = g.place_string("new/../file"), data = g.place_string("data");
    const uint32_t read_mode = g.place_string("r"), write_mode = g.place_string("w");
    const uint32_t reader = g.call("fopen", {data, read_mode});
    const uint32_t spooled = g.call("fopen", {path, write_mode});
    EXPECT_EQ(g.trap_numbers(), std::vector<uint32_t>{KIVOS_SYS_open}) << "nothing is written";
    EXPECT_EQ(g.read(reader, file_record::size),
              "\1\0\0\0\3\0\0\0"s + std::string(file_record::size - 8, '\0'));
    EXPECT_EQ(g.read32(spooled + file_record::kind), k_stream_spooled);
    const uint32_t copy = g.read32(spooled + file_record::path);
    EXPECT_NE(copy, path);
    EXPECT_EQ(g.read_string(copy), "new/../file");
    EXPECT_EQ(g.read(spooled + file_record::buf, file_record::size - file_record::buf),
              std::string(file_record::size - file_record::buf, '\0'));

    const uint32_t vars = g.reserve(8, 0x5a);
    g.call("malloc", {k_arena_size - heap_used(g) - 60});  // 56 bytes left: one record, then 8
    g.clear_trace();
    EXPECT_EQ(g.call("fopen", {data, write_mode}), 0u) << "the record fits, the path copy not";
    EXPECT_EQ(g.call("fopen", {data, read_mode}), 0u);
    EXPECT_EQ(g.trap_numbers(), (std::vector<uint32_t>{KIVOS_SYS_open, KIVOS_SYS_close}));
    EXPECT_EQ(g.trace()[1].args[0], static_cast<uint32_t>(g.trace()[0].result));
    EXPECT_EQ(g.call("open_memstream", {vars, vars + 4}), 0u);
    EXPECT_EQ(g.read(vars, 8), std::string(8, 0x5a)) << "the caller's variables stay untouched";
    EXPECT_EQ(g.read_symbol("errno"), k_enomem);
}

TEST(Fclose, FinishesEachKindAndSparesTheStandardStreams) {
    Guest g;
    const uint32_t reader = open_for_reading(g, "data", "abc");
    const uint32_t fd = g.read32(reader + file_record::fd);
    const uint32_t out = g.read_symbol("stdout");
    const uint32_t kept = g.call("fopen", {g.place_string("kept"), g.place_string("w")});
    const uint32_t bad_folder =
        g.call("fopen", {g.place_string("no/such/file"), g.place_string("w")});
    const std::vector<std::tuple<uint32_t, uint32_t, std::vector<uint32_t>>> cases = {
        {reader, 0, {KIVOS_SYS_close}},
        {0, k_minus_one, {}},
        {g.read_symbol("stdin"), 0, {}},
        {g.read_symbol("stderr"), 0, {}},
        {place_stream(g, k_stream_fd, 2), 0, {}},
        {place_stream(g, k_stream_fd, 99), k_bad_fd, {KIVOS_SYS_close}},
        {place_stream(g, k_stream_spooled, 0), k_minus_one, {}},  // no path
        {bad_folder, k_minus_one, {KIVOS_SYS_writefile}},
        {place_stream(g, k_stream_memory, 0), 0, {}},
    };
    for (const auto &[stream, expected, traps] : cases) {
        SCOPED_TRACE(stream);
        g.clear_trace();
        EXPECT_EQ(g.call("fclose", {stream}), expected);
        EXPECT_EQ(g.trap_numbers(), traps);
    }
    EXPECT_EQ(g.call("close", {fd}), k_bad_fd) << "fclose closed it";

    // The guard compares with the pointers as they are now.
    g.write32(g.symbol("stdout"), kept);
    g.clear_trace();
    EXPECT_EQ(g.call("fclose", {kept}), 0u);
    EXPECT_TRUE(g.trace().empty());
    EXPECT_FALSE(fs::exists(g.root() / "kept"));
    // The standard output works on after its fclose.
    g.write32(g.symbol("stdout"), out);
    EXPECT_EQ(g.call("fclose", {out}), 0u);
    EXPECT_EQ(g.call("puts", {g.place_string("still here")}), 0u);
    EXPECT_EQ(g.console(), "still here\n");
}

TEST(MemoryStream, OpensEmptyAndKeepsTheCallerCurrent) {
    Guest g;
    const uint32_t vars = g.reserve(8, 0x5a);
    EXPECT_EQ(g.call("open_memstream", {0, vars + 4}), 0u);
    EXPECT_EQ(g.call("open_memstream", {vars, 0}), 0u);
    EXPECT_EQ(g.read(vars, 8), std::string(8, 0x5a));

    const MemoryStream m = open_memory(g);
    ASSERT_NE(m.stream, 0u);
    EXPECT_EQ(g.read(m.vars, 8), std::string(8, '\0'));
    EXPECT_EQ(g.read32(m.stream + file_record::kind), k_stream_memory);
    EXPECT_EQ(g.call("fputs", {g.place_string(""), m.stream}), 0u);
    EXPECT_EQ(m.buffer(g), 0u) << "nothing written, nothing allocated";
    EXPECT_EQ(g.call("fputs", {g.place_string("hi"), m.stream}), 2u);
    EXPECT_EQ(m.buffer(g), g.read32(m.stream + file_record::buf));
    EXPECT_EQ(g.call("fputc", {'!', m.stream}), static_cast<uint32_t>('!'));
    // The NUL is written, not found: scribble past the data and write again.
    g.write(m.buffer(g) + 3, "junk");
    EXPECT_EQ(g.call("fputc", {'.', m.stream}), static_cast<uint32_t>('.'));
    // rewind clears only the flags: writing goes on at the end.
    g.write32(m.stream + file_record::eof_flag, 1);
    g.call("rewind", {m.stream});
    EXPECT_EQ(g.read32(m.stream + file_record::eof_flag), 0u);
    EXPECT_EQ(g.call("fputs", {g.place_string("?"), m.stream}), 1u);
    const uint32_t buffer = m.buffer(g);
    EXPECT_EQ(g.call("fclose", {m.stream}), 0u);
    EXPECT_EQ(m.buffer(g), buffer);
    EXPECT_EQ(m.content(g), "hi!.?") << "the buffer stays with the caller";
}

TEST(MemoryStream, FailedGrowthKeepsEverything) {
    // What a failed growth keeps, at every room the heap may have, is the failure sweep's.
    Guest g;
    const MemoryStream m = open_memory(g);
    ASSERT_EQ(write_bytes(g, m.stream, std::string(200, 'h')), 0u);
    g.call("malloc", {k_arena_size - heap_used(g) - 256});  // less than the 512 bytes it needs
    EXPECT_EQ(write_bytes(g, m.stream, std::string(100, 'x')), k_minus_one);
    EXPECT_EQ(g.read_symbol("errno"), k_enomem);

    // Sizes that would wrap fail before allocating: the NUL does not fit; 2^31 + 1 needs a
    // capacity of 2^32; the space needed wraps; doubling the capacity wraps.
    const std::vector<std::vector<uint32_t>> sizes = {{0, 0, 0xffffffff},
                                                      {0, 0, 0x80000000},
                                                      {0xfffffff0, 0xfffffff8, 0x10},
                                                      {0x80000000, 0x80000001, 0x10}};
    const uint32_t bytes = g.place("x");  // never read: the sizes are refused first
    for (const auto &c : sizes) {
        SCOPED_TRACE(testing::PrintToString(c));
        const uint32_t stream = place_stream(g, k_stream_spooled, 0);
        g.write32(stream + file_record::buf, bytes);
        g.write32(stream + file_record::len, c[0]);
        g.write32(stream + file_record::cap, c[1]);
        const std::string record = g.read(stream, file_record::size);
        const uint32_t used = heap_used(g);
        EXPECT_EQ(g.call("file_write_bytes", {stream, bytes, c[2]}), k_minus_one);
        EXPECT_EQ(g.read(stream, file_record::size), record);
        EXPECT_EQ(heap_used(g), used);
    }
}

TEST(StreamWriter, OutputCallsOnTheStandardStreams) {
    struct Case {
        std::string function;
        std::optional<std::string> text;  // the string argument (none: null), or
        uint32_t c;                       // the character argument of fputc and putchar
        const char *stream;               // the standard stream passed last, if any
        uint32_t expected_result;
        std::string expected_console;
        std::vector<uint32_t> expected_writes;
    };
    const std::vector<Case> cases = {
        {"puts", "hello", 0, nullptr, 0, "hello\n", {5, 1}},
        {"puts", "", 0, nullptr, 0, "\n", {1}},
        {"puts", std::nullopt, 0, nullptr, k_minus_one, "", {}},
        {"fputs", "hello", 0, "stdout", 5, "hello", {5}},
        {"fputs", "", 0, "stdout", 0, "", {}},
        {"fputs", std::nullopt, 0, "stdout", k_minus_one, "", {}},
        {"fputs", "x", 0, "stderr", 1, "x", {1}},
        {"fputs", "", 0, "stdin", 0, "", {}},
        {"fputs", "x", 0, "stdin", k_minus_one, "", {}},
        {"fputc", "", 0x141, "stdout", 0x41, "A", {1}},
        {"fputc", "", k_minus_one, "stdout", 0xff, "\xff", {1}},
        {"fputc", "", 0, "stdout", 0, "\0"s, {1}},
        {"fputc", "", 'x', "stdin", k_minus_one, "", {}},
        {"putchar", "", 0x1ff, nullptr, 0xff, "\xff", {1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function + " " + testing::PrintToString(c.text) + " " + std::to_string(c.c) +
                     " " + (c.stream ? c.stream : ""));
        Guest g;
        std::vector<uint32_t> args = {c.text ? g.place_string(*c.text) : 0};
        if (c.function == "fputc" || c.function == "putchar") args = {c.c};
        if (c.stream != nullptr) args.push_back(g.read_symbol(c.stream));
        EXPECT_EQ(g.call(c.function, args), c.expected_result);
        EXPECT_EQ(g.console(), c.expected_console);
        EXPECT_EQ(g.traps(KIVOS_SYS_write), c.expected_writes);
    }
}

TEST(StreamReading, FgetcEndOfFileAndRewind) {
    Guest g;
    const uint32_t s = open_for_reading(g, "bytes", "A\xff\0B"s);
    for (uint32_t expected : {0x41u, 0xffu, 0u, 0x42u}) EXPECT_EQ(g.call("fgetc", {s}), expected);
    EXPECT_EQ(state_of(g, s), std::pair(4u, 0u));
    EXPECT_EQ(g.call("fgetc", {s}), k_minus_one);
    EXPECT_EQ(g.call("feof", {s}), 1u);
    g.clear_trace();
    EXPECT_EQ(g.call("fgetc", {s}), k_minus_one) << "the flag does not stop a read";
    EXPECT_EQ(g.traps(KIVOS_SYS_read), std::vector<uint32_t>{1});
    EXPECT_EQ(state_of(g, s), std::pair(4u, 1u));

    g.write32(s + file_record::error_flag, 1);
    g.call("rewind", {s});
    EXPECT_EQ(state_of(g, s), std::pair(0u, 0u));
    EXPECT_EQ(g.call("ferror", {s}), 0u);
    EXPECT_EQ(g.call("fgetc", {s}), 0x41u);
    // A failed read counts as the end.
    g.faults().fail_nth(KIVOS_SYS_read, 8, -5);
    EXPECT_EQ(g.call("fgetc", {s}), k_minus_one);
    EXPECT_EQ(state_of(g, s), std::pair(1u, 1u));
}

TEST(StreamReading, FreadIsOneReadOfWholeItems) {
    // File size, item size, count, read cap (0: none), result, position, eof flag, reads.
    const std::vector<std::vector<uint32_t>> cases = {
        {38, 4, 10, 0, 9, 38, 1, 1}, {40, 4, 10, 0, 10, 40, 0, 1},
        {40, 4, 10, 7, 1, 7, 1, 1},  // a short read is taken as the end
        {40, 8, 1, 3, 0, 3, 1, 1},   // the bytes of a partial item still count
        {0, 1, 1, 0, 0, 0, 1, 1},    {10, 0x10000, 0x10000, 0, 0, 0, 0, 0},
        {10, 0, 4, 0, 0, 0, 0, 0},   {10, 4, 0, 0, 0, 0, 0, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c));
        Guest g;
        std::string content;
        for (uint32_t i = 0; i < c[0]; ++i) content += static_cast<char>(i + 1);
        const uint32_t s = open_for_reading(g, "data", content);
        if (c[3] != 0) g.faults().cap_read(c[3]);
        const uint32_t buf = g.reserve(64, '#');
        g.clear_trace();
        EXPECT_EQ(g.call("fread", {buf, c[1], c[2], s}), c[4]);
        EXPECT_EQ(state_of(g, s), std::pair(c[5], c[6]));
        EXPECT_EQ(g.trace().size(), c[7]);
        EXPECT_EQ(g.read(buf, c[5] + 1), content.substr(0, c[5]) + '#');
    }
}

TEST(StreamReading, SeeksTakeTheirPositionFromTheKernel) {
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
    EXPECT_EQ(state_of(g, s), std::pair(10u, 1u));
    EXPECT_EQ(g.call("fseek", {s, static_cast<uint32_t>(-3), k_seek_end}), 0u);
    EXPECT_EQ(state_of(g, s), std::pair(7u, 0u));
    EXPECT_EQ(g.call("fgetc", {s}), static_cast<uint32_t>('7'));
    // A refused seek changes nothing.
    g.write32(s + file_record::eof_flag, 1);
    EXPECT_EQ(g.call("fseek", {s, static_cast<uint32_t>(-20), k_seek_set}), k_minus_one);
    EXPECT_EQ(g.call("fseek", {s, 0, 9}), k_minus_one);
    EXPECT_EQ(state_of(g, s), std::pair(8u, 1u));
    g.write32(s + file_record::error_flag, 1);
    EXPECT_EQ(g.call("fseek", {s, 0, k_seek_set}), 0u);
    EXPECT_EQ(g.call("ferror", {s}), 1u) << "fseek leaves the error flag alone";
    // rewind whose seek fails still clears the flags.
    g.call("fgetc", {s});
    g.write32(s + file_record::eof_flag, 1);
    g.write32(s + file_record::fd, 99);
    g.call("rewind", {s});
    EXPECT_EQ(state_of(g, s), std::pair(1u, 0u));
    EXPECT_EQ(g.call("ferror", {s}), 0u);
}

TEST(StreamReading, RefusedWhereTheKindOrDescriptorCannot) {
    Guest g;
    g.set_stdin("xy");
    const uint32_t in = g.read_symbol("stdin");
    const uint32_t memory = open_memory(g).stream;
    const uint32_t spooled = g.call("fopen", {g.place_string("out"), g.place_string("w")});
    const uint32_t buf = g.reserve(16);
    for (uint32_t s : {in, g.read_symbol("stdout"), g.read_symbol("stderr")}) {
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
    EXPECT_EQ(state_of(g, in), std::pair(2u, 1u));
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
        if (s != 0) {
            EXPECT_EQ(state_of(g, s), std::pair(0u, 0u));
        }
        EXPECT_EQ(g.call("feof", {s}), s == 0 ? 1u : 0u);
        EXPECT_EQ(g.call("ferror", {s}), s == 0 ? 1u : 0u);
    }
    g.call("rewind", {0});
    EXPECT_EQ(g.call("fread", {0, 1, 4, in}), 0u);
    EXPECT_EQ(g.call("fwrite", {0, 1, 4, g.read_symbol("stdout")}), 0u);
    // With stdin pointing elsewhere, getchar reads there.
    g.write32(g.symbol("stdin"), open_for_reading(g, "data", "z"));
    EXPECT_EQ(g.call("getchar"), static_cast<uint32_t>('z'));
    g.write32(g.symbol("stdin"), 0);
    EXPECT_EQ(g.call("getchar"), k_minus_one);
}

}  // namespace
}  // namespace kivos::test
