// The bounded formatter (vsnprintf and its wrappers), the stream formatter (vfprintf, fprintf,
// printf) and the 64-bit divide under them, run inside the kivos machine.
#include <gtest/gtest.h>

#include <random>

#include "harness/streams.h"

namespace kivos::test {
namespace {

using namespace std::string_literals;

constexpr uint32_t k_buffer = 96;
constexpr char k_canary = '#';
constexpr uint64_t k_u64_max = ~uint64_t{0};
constexpr uint64_t k_i64_min = uint64_t{1} << 63;

// One argument of a formatting call, as the guest sees it.
struct Arg {
    enum Kind { word, wide, text, edge } kind;
    uint64_t value = 0;
    std::string s;
};
const auto w = [](uint32_t v) { return Arg{Arg::word, v, ""}; };
const auto ll = [](uint64_t v) { return Arg{Arg::wide, v, ""}; };
const auto str = [](std::string s) { return Arg{Arg::text, 0, std::move(s)}; };
// Bytes that end right before an unmapped page, with no terminator: only a bounded read survives.
const auto edge = [](std::string s) { return Arg{Arg::edge, 0, std::move(s)}; };

std::vector<uint32_t> place_args(Guest &g, std::vector<uint32_t> words,
                                 const std::vector<Arg> &args) {
    for (const Arg &a : args) {
        if (a.kind == Arg::wide) {
            for (const uint32_t half : words64(a.value)) words.push_back(half);
        } else {
            words.push_back(a.kind == Arg::word   ? static_cast<uint32_t>(a.value)
                            : a.kind == Arg::text ? g.place_string(a.s)
                                                  : g.place_at_edge(a.s));
        }
    }
    return words;
}

// A buffer of canary bytes; the formatter may touch only the bytes it is allowed to.
uint32_t canary_buffer(Guest &g) {
    return g.place(std::string(k_buffer, k_canary));
}

std::string with_canary(const std::string &stored) {
    return stored + std::string(k_buffer - stored.size(), k_canary);
}

// snprintf of `size` into a canary buffer: the result, and the whole buffer afterwards.
std::pair<uint32_t, std::string> bounded(Guest &g, uint32_t size, const std::string &format,
                                         const std::vector<Arg> &args) {
    const uint32_t buf = canary_buffer(g);
    const uint32_t result =
        g.call("snprintf", place_args(g, {buf, size, g.place_string(format)}, args));
    return {result, g.read(buf, k_buffer)};
}

struct FormatCase {
    std::string format;
    std::vector<Arg> args;
    std::string expected;
};

void expect_bounded(const std::vector<FormatCase> &cases) {
    Guest g;
    for (const FormatCase &c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(
            bounded(g, 64, c.format, c.args),
            std::pair(static_cast<uint32_t>(c.expected.size()), with_canary(c.expected + '\0')));
    }
}

void expect_stream(const std::vector<FormatCase> &cases) {
    Guest g;
    for (const FormatCase &c : cases) {
        SCOPED_TRACE(c.format);
        const MemoryStream m = open_memory(g);
        const auto args = place_args(g, {m.stream, g.place_string(c.format)}, c.args);
        EXPECT_EQ(g.call("fprintf", args), c.expected.size());
        EXPECT_EQ(m.content(g), c.expected);
    }
    EXPECT_EQ(g.console(), "");
}

TEST(Divide64, QuotientAndRemainderMatchTheHost) {
    std::vector<std::pair<uint64_t, uint64_t>> cases = {
        {0, 1},
        {7, 10},
        {k_u64_max, 10},
        {k_u64_max, 1},
        {k_u64_max, 0xffffffff},
        {k_u64_max, 0x100000000},
        {k_u64_max, k_u64_max},
        {k_u64_max - 1, k_u64_max},
        {k_i64_min, k_i64_min + 1},
        {0x123456789abcdef0, 0x100000001},
    };
    std::mt19937_64 random(4);
    for (int i = 0; i < 40; ++i) {
        const uint64_t dividend = random();
        const uint64_t divisor = random() >> (random() % 64);
        cases.emplace_back(dividend, divisor == 0 ? 3 : divisor);
    }
    Guest g;
    const uint32_t remainder = g.reserve(8);
    for (const auto &[dividend, divisor] : cases) {
        SCOPED_TRACE(std::to_string(dividend) + " / " + std::to_string(divisor));
        std::vector<uint32_t> words = words64(dividend);
        for (const uint32_t half : words64(divisor)) words.push_back(half);
        words.push_back(remainder);
        EXPECT_EQ(g.call64("udivmod64", words), dividend / divisor);
        const uint64_t rest = g.read32(remainder) | uint64_t{g.read32(remainder + 4)} << 32;
        EXPECT_EQ(rest, dividend % divisor);
    }
}

// What the host's C library renders alike, at every size, is the format fuzz target's; these
// tables hold the library's own rules and the edges.
TEST(BoundedFormatter, Directives) {
    expect_bounded({
        {"%.0d|%.0u|%.0x|%3d|%9d|", {w(0), w(0), w(0), w(-12345), w(7)}, "0|0|0|-12345|        7|"},
        {"%0*d|%*d|%.*d|", {w(5), w(3), w(-6), w(42), w(-1), w(42)}, "00003|42|42|"},
        {"%ld %d|%zu|%lx|", {w(1), w(2), w(3), w(0xff)}, "1 2|3|ff|"},
        {"%llp|%d", {ll(0x123456789), w(9)}, "0x123456789|9"},
        {"%5c|%p|%10p|%p|", {w(0x141), w(0x1234), w(0x1234), w(0)}, "A|0x1234|0x1234|0x0|"},
        {"%s|%.3s|%s|", {w(0), w(0), w(16)}, "(null)|(nu||"},
        {"%5.2s|%05s|%3s|%1s|", {str("abc"), str("ab"), str(""), str("")}, "   ab|   ab|   | |"},
        {"%.*s|%*s|", {w(-1), str("abc"), w(-4), str("ab")}, "abc|ab|"},
        {"%.3s|%.2s|%.0s|", {edge("abc"), edge("abc"), edge("")}, "abc|ab||"},
        {"%4.3s|%-4.3s|", {edge("abc"), edge("abc")}, " abc|abc |"},
        {"%q|%-05.3q|% d|%#x|%hd|", {}, "%q|%q|% d|%#x|%hd|"},
        {"%zz|%lllx|%lz|%*5d|", {w(3)}, "%z|%lx|%z|%5d|"},
        {"ab%-", {}, "ab"},
    });
}

TEST(BoundedFormatter, TruncationKeepsTheFullLength) {
    struct Case {
        uint32_t size;
        std::string format;
        std::vector<Arg> args;
        uint32_t expected_result;
        std::string expected_stored;  // terminator included; nothing when size is 0
    };
    const std::vector<Case> cases = {
        {0, "hello", {}, 5, ""},
        {0xffffffff, "hello", {}, 5, "hello\0"s},
        {3, "%p", {w(0x1234)}, 6, "0x\0"s},
        {2, "%q", {}, 2, "%\0"s},
        // A length past the largest int cannot be returned, and must not wrap.
        {8, "%2147483647d", {w(1)}, 0x7fffffff, "       \0"s},
        {8, "%2147483647d%d", {w(1), w(2)}, k_minus_one, "       \0"s},
        {8, "%2147483647d%2147483647d%2147483647d", {w(1), w(2), w(3)}, k_minus_one, "       \0"s},
    };
    Guest g;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format + " size " + std::to_string(c.size));
        EXPECT_EQ(bounded(g, c.size, c.format, c.args),
                  std::pair(c.expected_result, with_canary(c.expected_stored)));
    }
    EXPECT_EQ(g.call("snprintf", {0, 8, g.place_string("abc")}), 3u)
        << "a null buffer only measures";
    const uint32_t buf = canary_buffer(g);
    EXPECT_EQ(g.call("snprintf", {buf, 8, 0}), 0u);
    EXPECT_EQ(g.read(buf, k_buffer), with_canary("\0"s)) << "a null format stores the empty string";
}

TEST(BoundedFormatter, WrappersPassTheirArgumentsOn) {
    Guest g;
    const uint32_t format = g.place_string("%s=%d");
    // A va_list here is a pointer to the argument words.
    const std::vector<uint32_t> words = place_args(g, {}, {str("x"), w(5)});
    const uint32_t ap = g.reserve(8);
    g.write32(ap, words[0]);
    g.write32(ap + 4, words[1]);
    const auto expect_stored = [&](const char *function, std::vector<uint32_t> args,
                                   const std::string &stored) {
        const uint32_t buf = canary_buffer(g);
        args.insert(args.begin(), buf);
        EXPECT_EQ(g.call(function, args), 3u) << function;
        EXPECT_EQ(g.read(buf, k_buffer), with_canary(stored)) << function;
    };
    expect_stored("vsnprintf", {3, format, ap}, "x=\0"s);
    expect_stored("vsprintf", {format, ap}, "x=5\0"s);
    expect_stored("sprintf", {format, words[0], words[1]}, "x=5\0"s);
}

TEST(StreamFormatter, Directives) {
    expect_stream({
        {"%5d|%05d|%05d|", {w(42), w(42), w(-42)}, "   42|   42|  -42|"},
        {"%.0d|%x|%u|%i|", {w(0), w(255), w(-1), w(0x80000000)}, "0|ff|4294967295|-2147483648|"},
        {"%*d|%*d|%.*d|", {w(4), w(1), w(-4), w(2), w(3), w(4)}, "   1|2|004|"},
        {"%10p|%.4p|%p|", {w(0x1234), w(0x12), w(0)}, "    0x1234|0x0012|0x0|"},
        {"%llp|%ld|", {ll(0x123456789abcdef0), w(-5)}, "0x123456789abcdef0|-5|"},
        {"%5c|%5s|%5.2s|%.*s|",
         {w(65), str("abc"), str("abc"), w(-1), str("abc")},
         "A|  abc|   ab|abc|"},
        {"%s|%3s|%.2s|%2s|", {w(0), str(""), w(0), w(16)}, "(null)|   |(n|  |"},
        {"%.3s|%5.2s|%.0s|", {edge("abc"), edge("abc"), edge("")}, "abc|   ab||"},
        {"%-5d|%+d|%X|%zu|% d|%lllx|", {}, "%-5d|%+d|%X|%zu|% d|%lx|"},
        {"%ll%|", {}, "%|"},
        {"ab%-", {}, "ab%-"},
    });
}

// Where the engines agree: echoes, and a format that ends inside a directive ends the output.
TEST(BothFormatters, EchoesAndUnfinishedDirectives) {
    const std::vector<FormatCase> cases = {{"%%|%5%|%l%|", {}, "%|%|%|"},
                                           {"%\xe9|", {}, "%\xe9|"},
                                           {"abc%", {}, "abc"},

                                           {"ab%5", {}, "ab"},
                                           {"ab%.", {}, "ab"},
                                           {"ab%l", {}, "ab"},
                                           {"ab%*", {w(3)}, "ab"}};
    expect_bounded(cases);
    expect_stream(cases);
}

// What the console gets, one writer call per piece, and how a leading %c becomes the
// four-byte control packet there.
TEST(StreamFormatter, ConsoleWritesEachPieceAndTakesALeadingCharacterAsAControlPacket) {
    struct Case {
        const char *stream;  // a standard stream, or "fd1" for a record of our own on descriptor 1
        std::string format;
        std::vector<Arg> args;
        uint32_t expected_result;
        std::string expected_console;
        std::vector<uint32_t> expected_writes;
    };
    const std::vector<Case> cases = {
        {"stdout", "ab", {}, 2, "ab", {1, 1}},
        {"stdout", "%8.5x|", {w(0xbeef)}, 9, "   0beef|", {1, 1, 1, 1, 4, 1}},
        {"stdout", "%6.3d", {w(-42)}, 6, "  -042", {1, 1, 1, 1, 2}},
        {"stdout", "%7p", {w(0x1234)}, 7, " 0x1234", {1, 1, 1, 4}},
        {"stdout", "%5s|%s|", {str("abc"), str("")}, 7, "  abc||", {1, 1, 3, 1, 1}},
        {"stdout", "%q", {}, 2, "%q", {1, 1}},
        {"stdout", "%c", {w(0x41), w(0x42), w(0x43)}, 0, "\xff\x41\x42\x43", {4}},
        {"stdout",
         "%c%c",
         {w(0x141), w(0x42), w(0x43), w(0x44)},
         1,
         "\xff\x41\x42\x43\x44",
         {4, 1}},
        {"stderr", "%cz", {w(1), w(2), w(3)}, 1, "\xff\x01\x02\x03z", {4, 1}},
        {"fd1", "%c", {w(0), w(0), w(0)}, 0, "\xff\0\0\0"s, {4}},
        {"stdout", "x%c", {w(0x41)}, 2, "xA", {1, 1}},
        {"stdout", "%5c", {w(0x41)}, 1, "A", {1}},
        {"stdout", "%%c", {}, 2, "%c", {1, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.stream) + " " + c.format);
        Guest g;
        const uint32_t stream = std::string(c.stream) == "fd1" ? place_stream(g, k_stream_fd, 1)
                                                               : g.read_symbol(c.stream);
        EXPECT_EQ(g.call("fprintf", place_args(g, {stream, g.place_string(c.format)}, c.args)),
                  c.expected_result);
        EXPECT_EQ(g.console(), c.expected_console);
        EXPECT_EQ(g.traps(KIVOS_SYS_write), c.expected_writes);
    }
}

TEST(StreamFormatter, StopsAtTheFirstFailedWrite) {
    struct Case {
        std::string format;
        std::vector<Arg> args;
        uint32_t failing_write;
        std::string expected_console;
    };
    const std::vector<Case> cases = {
        {"ab%dcd", {w(5)}, 3, "ab"},
        {"ab%dcd", {w(5)}, 1, ""},
        {"%4d", {w(5)}, 2, " "},
        {"%5s!", {str("abc")}, 3, "  "},
        {"%p", {w(1)}, 2, "0"},
        {"%.3d", {w(-1)}, 3, "-0"},
        {"x%%%c", {w('y')}, 3, "x%"},
        {"%cAB", {w(1), w(2), w(3)}, 1, ""},
        {"%cAB", {w(1), w(2), w(3)}, 3, "\xff\x01\x02\x03\x41"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format + " failing write " + std::to_string(c.failing_write));
        Guest g;
        g.faults().fail_nth(KIVOS_SYS_write, c.failing_write, -5);
        EXPECT_EQ(g.call("printf", place_args(g, {g.place_string(c.format)}, c.args)), k_minus_one);
        EXPECT_EQ(g.console(), c.expected_console);
        EXPECT_EQ(g.traps(KIVOS_SYS_write).size(), c.failing_write)
            << "no write after the failed one";
    }
}

TEST(StreamFormatter, LeadingCharacterOnAMemoryStreamIsACharacter) {
    expect_stream(
        {{"%c", {w(0x41), w(0x42), w(0x43)}, "A"}, {"%c%c|", {w(0x141), w(0x42)}, "AB|"}});
    Guest g;
    const MemoryStream m = open_memory(g);
    g.write32(g.symbol("stdout"), m.stream);
    EXPECT_EQ(g.call("printf", {g.place_string("%c=%d"), 'x', 7}), 3u);
    EXPECT_EQ(g.call("puts", {g.place_string("!")}), 0u);
    EXPECT_EQ(m.content(g), "x=7!\n");
    EXPECT_TRUE(g.console().empty()) << "no control packet, nothing on the console";
}

TEST(StreamFormatter, PrintfFollowsStdoutAndRefusesNulls) {
    Guest g;
    const uint32_t format = g.place_string("%c%d");
    const std::string packet_and_42 = "\xff"s + "abc42";
    EXPECT_EQ(g.call("printf", {format, 'a', 'b', 'c', 42}), 2u);
    EXPECT_EQ(g.console(), packet_and_42);
    // Output to descriptor 0 fails: no packet and no character get through.
    EXPECT_EQ(g.call("fprintf", {place_stream(g, k_stream_fd, 0), format, 'a', 42}), k_minus_one);
    EXPECT_EQ(g.call("fprintf", {place_stream(g, k_stream_fd, 0), g.place_string("")}), 0u);
    EXPECT_EQ(g.call("fprintf", {0, format}), k_minus_one);
    EXPECT_EQ(g.call("fprintf", {g.read_symbol("stdout"), 0}), k_minus_one);
    EXPECT_EQ(g.call("printf", {0}), k_minus_one);
    g.write32(g.symbol("stdout"), 0);
    EXPECT_EQ(g.call("printf", {g.place_string("x")}), k_minus_one);
    EXPECT_EQ(g.console(), packet_and_42);
}

}  // namespace
}  // namespace kivos::test
