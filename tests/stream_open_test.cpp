// Making and finishing streams (fopen, open_memstream, fclose) and the buffer that memory and
// spooled file streams grow, run inside the kivos machine and against files of its sandbox.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "harness/guest.h"
#include "harness/streams.h"
#include "harness/guest_abi.h"

namespace kivos::test {
namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

std::vector<std::string> trap_names(const Guest &g) {
    std::vector<std::string> names;
    for (const auto &trap : g.trace()) names.push_back(trap.name);
    return names;
}

// A memory stream with the caller's two variables, each 4 bytes: buffer pointer, then size.
struct MemoryStream {
    uint32_t stream;
    uint32_t vars;
    uint32_t buffer(Guest &g) const { return g.read32(vars); }
    uint32_t size(Guest &g) const { return g.read32(vars + 4); }
};

MemoryStream open_memory(Guest &g) {
    const uint32_t vars = g.reserve(8, 0x5a);
    return {g.call("open_memstream", {vars, vars + 4}), vars};
}

uint32_t write_bytes(Guest &g, uint32_t stream, const std::string &bytes) {
    return g.call("file_write_bytes",
                  {stream, g.place(bytes), static_cast<uint32_t>(bytes.size())});
}

uint32_t heap_used(Guest &g) {
    return g.read32(g.symbol("g_heap_used"));
}

TEST(FileRoad, ProgramWritesTheFileWholeOnClose) {
    struct Case {
        std::string mode, action;  // what file_writer does with the stream
        std::string before;        // what the file held before, if anything
        int32_t expected_status;
        std::optional<std::string> expected_file;  // none: no file at all
    };
    const std::string written = "kivos\nanswer=-42| beef|\n";
    const std::vector<Case> cases = {
        {"w", "write", "", 0, written},
        {"wb", "write", "an older and much longer content", 0, written},
        {"w+", "write", "", 0, written},
        {"wb", "empty", "old", 0, ""},
        {"w", "unclosed", "", 0, std::nullopt},
        {"w", "unclosed", "old", 0, "old"},
        {"a", "write", "", 3, std::nullopt},
        {"r", "empty", "", 3, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode + " " + c.action + " over '" + c.before + "'");
        GuestOptions options;
        options.image = KIVOS_FILE_WRITER;
        Guest g(options);
        if (!c.before.empty()) write_file(g.root() / "out.txt", c.before);
        const RunResult result = g.run_program({"file_writer", "out.txt", c.mode, c.action});
        ASSERT_EQ(result.end, RunResult::End::exited) << result.message;
        EXPECT_EQ(result.status, c.expected_status);
        EXPECT_EQ(fs::exists(g.root() / "out.txt"), c.expected_file.has_value());
        if (c.expected_file) {
            EXPECT_EQ(read_file(g.root() / "out.txt"), *c.expected_file);
        }
        const auto names = trap_names(g);
        const bool spooled = c.expected_status == 0 && c.action != "unclosed";
        EXPECT_EQ(std::count(names.begin(), names.end(), "writefile"), spooled ? 1 : 0);
        EXPECT_EQ(std::count(names.begin(), names.end(), "open"), c.mode == "r" ? 1 : 0);
    }
}

TEST(Fopen, StandardNamesModesAndMissingFiles) {
    Guest g;
    write_file(g.root() / "there", "x");
    const uint32_t in = standard_stream(g, "stdin"), out = standard_stream(g, "stdout");
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
        {there, nullptr, 0, false}, {g.place_string("missing"), "r", 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.mode ? c.mode : "(null mode)") + " path " +
                     std::to_string(c.path));
        g.clear_trace();
        EXPECT_EQ(g.call("fopen", {c.path, c.mode ? g.place_string(c.mode) : 0}), c.expected);
        EXPECT_EQ(g.trace().size(), c.opens ? 1u : 0u);
    }
    // The standard names follow the pointers as they are at the call.
    g.write32(g.symbol("stdin"), out);
    EXPECT_EQ(g.call("fopen", {dash, g.place_string("r")}), out);
}

TEST(Fopen, MakesZeroedRecordsAndTouchesNoFileForWriting) {
    Guest g;
    write_file(g.root() / "data", "abc");
    const uint32_t path = g.place_string("new/../file");
    const uint32_t reader = g.call("fopen", {g.place_string("data"), g.place_string("rb")});
    const uint32_t spooled = g.call("fopen", {path, g.place_string("w")});
    EXPECT_EQ(trap_names(g), std::vector<std::string>{"open"}) << "nothing is asked to write";
    EXPECT_EQ(g.read(reader, file_record::size),
              "\1\0\0\0\3\0\0\0"s + std::string(file_record::size - 8, '\0'));
    EXPECT_EQ(g.read32(spooled + file_record::kind), k_stream_spooled);
    const uint32_t copy = g.read32(spooled + file_record::path);
    EXPECT_NE(copy, path);
    EXPECT_EQ(g.read_string(copy), "new/../file");
    EXPECT_EQ(g.read(spooled + file_record::buf, file_record::size - file_record::buf),
              std::string(file_record::size - file_record::buf, '\0'));
    EXPECT_FALSE(fs::exists(g.root() / "file"));
}

TEST(Fopen, FailedAllocationsMakeNothingAndCloseTheDescriptor) {
    Guest g;
    write_file(g.root() / "data", "abc");
    const uint32_t path = g.place_string("data");
    const uint32_t read_mode = g.place_string("r"), write_mode = g.place_string("w");
    const uint32_t vars = g.reserve(8, 0x5a);
    g.call("malloc", {k_arena_size - heap_used(g) - 60});  // 56 bytes left: one record, then 8
    g.clear_trace();
    EXPECT_EQ(g.call("fopen", {path, write_mode}), 0u) << "the record fits, the path copy not";
    EXPECT_EQ(g.call("fopen", {path, read_mode}), 0u);
    EXPECT_EQ(trap_names(g), (std::vector<std::string>{"open", "close"}));
    EXPECT_EQ(g.trace()[1].args[0], static_cast<uint32_t>(g.trace()[0].result));
    EXPECT_EQ(g.call("open_memstream", {vars, vars + 4}), 0u);
    EXPECT_EQ(g.read(vars, 8), std::string(8, 0x5a)) << "the caller's variables stay untouched";
    EXPECT_EQ(g.read32(g.symbol("errno")), k_enomem);
}

TEST(Fclose, FinishesEachKindAndSparesTheStandardStreams) {
    Guest g;
    write_file(g.root() / "data", "abc");
    const uint32_t reader = g.call("fopen", {g.place_string("data"), g.place_string("r")});
    const uint32_t fd = g.read32(reader + file_record::fd);
    struct Case {
        std::string name;
        uint32_t stream;
        uint32_t expected;
        std::vector<std::string> expected_traps;
    };
    const uint32_t out = standard_stream(g, "stdout");
    const uint32_t spooled_in_stdout =
        g.call("fopen", {g.place_string("kept"), g.place_string("w")});
    const uint32_t bad_folder =
        g.call("fopen", {g.place_string("no/such/file"), g.place_string("w")});
    const std::vector<Case> cases = {
        {"descriptor above 2", reader, 0, {"close"}},
        {"null", 0, k_minus_one, {}},
        {"stdin", standard_stream(g, "stdin"), 0, {}},
        {"stderr", standard_stream(g, "stderr"), 0, {}},
        {"record on 0", place_stream(g, k_stream_fd, 0), 0, {}},
        {"record on 2", place_stream(g, k_stream_fd, 2), 0, {}},
        {"closed descriptor",
         place_stream(g, k_stream_fd, 99),
         static_cast<uint32_t>(-9),
         {"close"}},
        {"spooled without path", place_stream(g, k_stream_spooled, 0), k_minus_one, {}},
        {"writefile fails", bad_folder, k_minus_one, {"writefile"}},
        {"memory", place_stream(g, k_stream_memory, 0), 0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        g.clear_trace();
        EXPECT_EQ(g.call("fclose", {c.stream}), c.expected);
        EXPECT_EQ(trap_names(g), c.expected_traps);
    }
    EXPECT_EQ(g.call("close", {fd}), static_cast<uint32_t>(-9)) << "fclose closed it";

    // The guard compares with the pointers as they are now.
    g.write32(g.symbol("stdout"), spooled_in_stdout);
    g.clear_trace();
    EXPECT_EQ(g.call("fclose", {spooled_in_stdout}), 0u);
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
    EXPECT_EQ(m.size(g), 3u);
    // The NUL is written, not found: scribble past the data and write again.
    g.write(m.buffer(g) + 3, "junk");
    EXPECT_EQ(g.call("fputc", {'.', m.stream}), static_cast<uint32_t>('.'));
    EXPECT_EQ(g.read(m.buffer(g), 5), "hi!.\0"s);

    // rewind clears only the flags: writing goes on at the end.
    g.write32(m.stream + file_record::eof_flag, 1);
    g.call("rewind", {m.stream});
    EXPECT_EQ(g.read32(m.stream + file_record::eof_flag), 0u);
    EXPECT_EQ(g.call("fputs", {g.place_string("?"), m.stream}), 1u);

    const uint32_t buffer = m.buffer(g);
    EXPECT_EQ(g.call("fclose", {m.stream}), 0u);
    EXPECT_EQ(m.buffer(g), buffer);
    EXPECT_EQ(m.size(g), 5u);
    EXPECT_EQ(g.read(buffer, 6), "hi!.?\0"s) << "the buffer stays with the caller";
}

TEST(MemoryStream, CapacityDoublesFrom256AndGrowthLeavesTheOldBlockAlone) {
    struct Case {
        std::vector<uint32_t> writes;
        uint32_t expected_cap;
    };
    const std::vector<Case> cases = {
        {{255}, 256},     {{256}, 512},     {{511}, 512},          {{512}, 1024},
        {{200, 55}, 256}, {{200, 56}, 512}, {{255, 1, 768}, 2048}, {{300, 5000}, 8192},
    };
    Guest g;
    for (const Case &c : cases) {
        const MemoryStream m = open_memory(g);
        std::string expected;
        uint32_t first_block = 0, first_cap = 0;
        for (uint32_t n : c.writes) {
            const std::string bytes(n, static_cast<char>('a' + expected.size() % 26));
            ASSERT_EQ(write_bytes(g, m.stream, bytes), 0u);
            expected += bytes;
            if (first_block != 0) continue;
            first_block = m.buffer(g);
            first_cap = g.read32(m.stream + file_record::cap);
        }
        SCOPED_TRACE("after " + std::to_string(expected.size()) + " bytes");
        if (c.expected_cap != first_cap) {
            // Growth moved the buffer; the block the first write filled keeps its bytes.
            EXPECT_NE(m.buffer(g), first_block);
            EXPECT_EQ(g.read(first_block, c.writes[0] + 1), expected.substr(0, c.writes[0]) + '\0');
        }
        EXPECT_EQ(g.read32(m.stream + file_record::cap), c.expected_cap);
        EXPECT_EQ(g.read32(m.stream + file_record::len), expected.size());
        EXPECT_EQ(m.size(g), expected.size());
        EXPECT_EQ(g.read(m.buffer(g), expected.size() + 1), expected + '\0');
    }
}

TEST(MemoryStream, ExhaustedArenaFailsAndKeepsEverything) {
    Guest g;
    const MemoryStream m = open_memory(g);
    const std::string held(200, 'h');
    ASSERT_EQ(write_bytes(g, m.stream, held), 0u);
    // Less than the 512 bytes the next growth needs.
    g.call("malloc", {k_arena_size - heap_used(g) - 256});
    const std::string before = g.read(m.stream, file_record::size) + g.read(m.vars, 8);

    EXPECT_EQ(write_bytes(g, m.stream, std::string(100, 'x')), k_minus_one);
    EXPECT_EQ(
        g.call("fprintf", {m.stream, g.place_string("%s"), g.place_string(std::string(60, 'x'))}),
        k_minus_one);
    EXPECT_EQ(g.read(m.stream, file_record::size) + g.read(m.vars, 8), before);
    EXPECT_EQ(g.read32(g.symbol("errno")), k_enomem);

    EXPECT_EQ(g.call("fputs", {g.place_string("small"), m.stream}), 5u) << "it still fits in 256";
    EXPECT_EQ(m.size(g), 205u);
    EXPECT_EQ(g.read(m.buffer(g), 206), held + "small" + '\0');
}

TEST(MemoryStream, SizesThatWouldWrapFailBeforeAllocating) {
    struct Case {
        uint32_t len, cap, count;
    };
    const std::vector<Case> cases = {
        {0, 0, 0xffffffff},              // the NUL does not fit
        {0, 0, 0x80000000},              // 2^31 + 1 needs a capacity of 2^32
        {0xfffffff0, 0xfffffff8, 0x10},  // the space needed wraps
        {0x80000000, 0x80000001, 0x10},  // doubling the capacity wraps
    };
    Guest g;
    const uint32_t bytes = g.place("x");  // never read: the sizes are refused first
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.len) + " + " + std::to_string(c.count));
        const uint32_t stream = place_stream(g, k_stream_spooled, 0);
        g.write32(stream + file_record::buf, bytes);
        g.write32(stream + file_record::len, c.len);
        g.write32(stream + file_record::cap, c.cap);
        const std::string before = g.read(stream, file_record::size);
        const uint32_t used = heap_used(g);
        EXPECT_EQ(g.call("file_write_bytes", {stream, bytes, c.count}), k_minus_one);
        EXPECT_EQ(g.read(stream, file_record::size), before);
        EXPECT_EQ(heap_used(g), used);
    }
}

}  // namespace
}  // namespace kivos::test
