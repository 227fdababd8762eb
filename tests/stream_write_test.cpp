// The stream writer and the unformatted output calls on descriptor streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/guest.h"
#include "harness/streams.h"
#include "harness/guest_abi.h"

namespace kivos::test {
namespace {

using namespace std::string_literals;

// Every write trap's byte count, in order.
std::vector<uint32_t> write_sizes(const Guest &g) {
    std::vector<uint32_t> sizes;
    for (const auto &trap : g.trace()) {
        if (trap.number == KIVOS_SYS_write) sizes.push_back(trap.args[2]);
    }
    return sizes;
}

TEST(StreamWriter, OutputCallsOnTheStandardStreams) {
    struct Case {
        std::string label;
        std::string function;
        std::string text;  // placed as a string argument unless `null_text`
        bool null_text;
        const char *stream;  // the standard stream passed last, if any
        uint32_t expected_result;
        std::string expected_console;
        std::vector<uint32_t> expected_writes;
    };
    const std::vector<Case> cases = {
        {"puts", "puts", "hello", false, nullptr, 0, "hello\n", {5, 1}},
        {"puts empty", "puts", "", false, nullptr, 0, "\n", {1}},
        {"puts null", "puts", "", true, nullptr, k_minus_one, "", {}},
        {"fputs", "fputs", "hello", false, "stdout", 5, "hello", {5}},
        {"fputs empty writes nothing", "fputs", "", false, "stdout", 0, "", {}},
        {"fputs null", "fputs", "", true, "stdout", k_minus_one, "", {}},
        {"fputs to stderr uses descriptor 1", "fputs", "x", false, "stderr", 1, "x", {1}},
        {"fputs nothing to stdin succeeds", "fputs", "", false, "stdin", 0, "", {}},
        {"fputs to stdin fails", "fputs", "x", false, "stdin", k_minus_one, "", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Guest g;
        std::vector<uint32_t> args = {c.null_text ? 0 : g.place_string(c.text)};
        if (c.stream != nullptr) args.push_back(standard_stream(g, c.stream));
        EXPECT_EQ(g.call(c.function, args), c.expected_result);
        EXPECT_EQ(g.console(), c.expected_console);
        EXPECT_EQ(write_sizes(g), c.expected_writes);
    }
}

TEST(StreamWriter, FputcReturnsTheByteWritten) {
    struct Case {
        uint32_t c;
        const char *stream;
        uint32_t expected_result;
        std::string expected_console;
    };
    const std::vector<Case> cases = {
        {'x', "stdout", 'x', "x"},
        {0x141, "stdout", 0x41, "A"},
        {k_minus_one, "stdout", 255, "\xff"},
        {0, "stdout", 0, "\0"s},
        {'x', "stdin", k_minus_one, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.stream) + " " + std::to_string(c.c));
        Guest g;
        EXPECT_EQ(g.call("fputc", {c.c, standard_stream(g, c.stream)}), c.expected_result);
        EXPECT_EQ(g.console(), c.expected_console);
    }
    Guest g;
    EXPECT_EQ(g.call("putchar", {0x1ff}), 0xffu);
    EXPECT_EQ(g.call("fputc", {'x', 0}), k_minus_one);
    EXPECT_EQ(g.console(), "\xff");
}

TEST(StreamWriter, FwriteIsOneWriteOrNothing) {
    Guest g;
    const uint32_t data = g.place("abcdefghijkl");
    const uint32_t out = standard_stream(g, "stdout");
    EXPECT_EQ(g.call("fwrite", {data, 4, 3, out}), 3u);
    EXPECT_EQ(g.console(), "abcdefghijkl");
    EXPECT_EQ(write_sizes(g), std::vector<uint32_t>{12});

    g.clear_trace();
    for (const std::vector<uint32_t> &args : std::vector<std::vector<uint32_t>>{
             {data, 0x10000, 0x10000, out},  // the product does not fit in 32 bits
             {0, 1, 1, out},
             {data, 1, 1, 0},
             {data, 0, 5, out},
             {data, 5, 0, out},
             {data, 1, 1, standard_stream(g, "stdin")},
         }) {
        EXPECT_EQ(g.call("fwrite", args), 0u);
    }
    EXPECT_TRUE(g.trace().empty());
}

TEST(StreamWriter, LoopsOnPartialWritesAndStopsOnAFailedOne) {
    Guest g;
    g.faults().cap_write(4);
    EXPECT_EQ(g.call("fputs", {g.place_string("0123456789"), standard_stream(g, "stdout")}), 10u);
    EXPECT_EQ(g.console(), "0123456789");
    EXPECT_EQ(write_sizes(g), (std::vector<uint32_t>{10, 6, 2}));

    for (int32_t failure : {0, -5}) {
        SCOPED_TRACE(failure);
        Guest h;
        h.faults().cap_write(4);
        h.faults().fail_nth(KIVOS_SYS_write, 2, failure);
        EXPECT_EQ(h.call("fputs", {h.place_string("0123456789"), standard_stream(h, "stdout")}),
                  k_minus_one);
        EXPECT_EQ(h.console(), "0123") << "what was written stays written";
        EXPECT_EQ(write_sizes(h).size(), 2u) << "nothing is retried";
    }

    Guest h;
    h.faults().fail_nth(KIVOS_SYS_write, 1, -5);
    EXPECT_EQ(h.call("puts", {h.place_string("abc")}), k_minus_one);
    EXPECT_EQ(write_sizes(h).size(), 1u) << "no newline after a failed text";
}

TEST(StreamWriter, WriterChecksComeFirstAndFollowTheCurrentStdout) {
    Guest g;
    const uint32_t out = standard_stream(g, "stdout");
    EXPECT_EQ(g.call("file_write_bytes", {0, g.place("x"), 1}), k_minus_one);
    EXPECT_EQ(g.call("file_write_bytes", {out, 0, 0}), k_minus_one) << "null bytes fail even for 0";
    EXPECT_EQ(g.call("file_write_bytes", {standard_stream(g, "stdin"), g.place("x"), 0}), 0u);
    // Pointing stdout at stdin's record makes every output call fail.
    g.write32(g.symbol("stdout"), standard_stream(g, "stdin"));
    EXPECT_EQ(g.call("puts", {g.place_string("x")}), k_minus_one);
    EXPECT_EQ(g.call("putchar", {'x'}), k_minus_one);
    EXPECT_TRUE(g.trace().empty());
}

TEST(StreamWriter, StandardRecordsAreDescriptorStreams) {
    struct Case {
        const char *name;
        uint32_t fd;
    };
    Guest g;
    for (const Case &c : {Case{"stdin", 0}, Case{"stdout", 1}, Case{"stderr", 1}}) {
        SCOPED_TRACE(c.name);
        const uint32_t record = standard_stream(g, c.name);
        EXPECT_EQ(g.read32(record + file_record::kind), k_stream_fd);
        EXPECT_EQ(g.read32(record + file_record::fd), c.fd);
        EXPECT_EQ(g.read(record + file_record::path, file_record::size - file_record::path),
                  std::string(file_record::size - file_record::path, '\0'));
    }
}

}  // namespace
}  // namespace kivos::test
