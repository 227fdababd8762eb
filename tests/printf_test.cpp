// The bounded formatter (vsnprintf and its wrappers), the stream formatter (vfprintf, fprintf,
// printf) and the 64-bit divide under them, run inside the kivos machine.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "harness/guest.h"

namespace kivos::test {
namespace {

using namespace std::string_literals;

constexpr uint32_t k_minus_one = 0xffffffff;
constexpr uint32_t k_write = 1;
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
Arg w(uint32_t v) {
    return {Arg::word, v, ""};
}
Arg ll(uint64_t v) {
    return {Arg::wide, v, ""};
}
Arg str(std::string s) {
    return {Arg::text, 0, std::move(s)};
}
// Bytes that end right before an unmapped page, with no terminator: only a bounded read survives.
Arg edge(std::string s) {
    return {Arg::edge, 0, std::move(s)};
}

void push_words64(std::vector<uint32_t> &words, uint64_t value) {
    words.push_back(static_cast<uint32_t>(value));
    words.push_back(static_cast<uint32_t>(value >> 32));
}

std::vector<uint32_t> place_args(Guest &g, std::vector<uint32_t> words,
                                 const std::vector<Arg> &args) {
    for (const Arg &a : args) {
        switch (a.kind) {
            case Arg::word:
                words.push_back(static_cast<uint32_t>(a.value));
                break;
            case Arg::wide:
                push_words64(words, a.value);
                break;
            case Arg::text:
                words.push_back(g.place_string(a.s));
                break;
            case Arg::edge:
                words.push_back(g.place_at_edge(a.s));
                break;
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

uint32_t standard(Guest &g, const char *name) {
    return g.read32(g.symbol(name));
}

// A descriptor stream record of our own in guest memory.
uint32_t descriptor_stream(Guest &g, uint32_t fd) {
    std::string record(44, '\0');
    record[0] = 1;
    record[4] = static_cast<char>(fd);
    return g.place(record);
}

std::vector<uint32_t> write_sizes(const Guest &g) {
    std::vector<uint32_t> sizes;
    for (const auto &trap : g.trace()) {
        if (trap.number == k_write) sizes.push_back(trap.args[2]);
    }
    return sizes;
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
        const uint32_t buf = canary_buffer(g);
        const auto args = place_args(g, {buf, 64, g.place_string(c.format)}, c.args);
        EXPECT_EQ(g.call("snprintf", args), c.expected.size());
        EXPECT_EQ(g.read(buf, k_buffer), with_canary(c.expected + '\0'));
    }
}

// A memory stream and the caller's two variables (buffer pointer, then size).
struct MemoryStream {
    uint32_t stream;
    uint32_t vars;
};

MemoryStream open_memory(Guest &g) {
    const uint32_t vars = g.reserve(8);
    return {g.call("open_memstream", {vars, vars + 4}), vars};
}

// What the memory stream holds, checked against the NUL behind it.
std::string memory_content(Guest &g, const MemoryStream &m) {
    const uint32_t size = g.read32(m.vars + 4);
    if (size == 0) return "";
    const std::string held = g.read(g.read32(m.vars), size + 1);
    EXPECT_EQ(held.back(), '\0');
    return held.substr(0, size);
}

void expect_stream(const std::vector<FormatCase> &cases) {
    Guest g;
    for (const FormatCase &c : cases) {
        SCOPED_TRACE(c.format);
        const MemoryStream m = open_memory(g);
        const auto args = place_args(g, {m.stream, g.place_string(c.format)}, c.args);
        EXPECT_EQ(g.call("fprintf", args), c.expected.size());
        EXPECT_EQ(memory_content(g, m), c.expected);
    }
    EXPECT_EQ(g.console(), "");
}

TEST(Divide64, QuotientAndRemainderMatchTheHost) {
    std::vector<std::pair<uint64_t, uint64_t>> cases = {{0, 1},
                                                        {7, 10},
                                                        {k_u64_max, 10},
                                                        {k_u64_max, 16},
                                                        {k_u64_max, 1},
                                                        {k_u64_max, 0xffffffff},
                                                        {k_u64_max, uint64_t{1} << 32},
                                                        {k_u64_max, k_u64_max},
                                                        {k_u64_max - 1, k_u64_max},
                                                        {k_i64_min, k_i64_min + 1},
                                                        {k_u64_max, k_i64_min + 1},
                                                        {0x123456789abcdef0, 0x100000001}};
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
        std::vector<uint32_t> words;
        push_words64(words, dividend);
        push_words64(words, divisor);
        words.push_back(remainder);
        EXPECT_EQ(g.call64("udivmod64", words), dividend / divisor);
        const uint64_t rest = g.read32(remainder) | uint64_t{g.read32(remainder + 4)} << 32;
        EXPECT_EQ(rest, dividend % divisor);
    }
}

TEST(BoundedFormatter, DigitRendererWritesDigitsAndNoTerminator) {
    struct Case {
        uint32_t value;
        uint32_t base;
        uint32_t upper;
        std::string expected;
    };
    const std::vector<Case> cases = {{0, 10, 0, "0"},
                                     {0, 16, 1, "0"},
                                     {9, 10, 0, "9"},
                                     {10, 10, 0, "10"},
                                     {4294967295, 10, 0, "4294967295"},
                                     {0xbeef, 16, 0, "beef"},
                                     {0xbeef, 16, 1, "BEEF"},
                                     {0xffffffff, 16, 0, "ffffffff"}};
    Guest g;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected);
        const uint32_t out = canary_buffer(g);
        const uint32_t length = g.place("\x7f\x7f\x7f\x7f");
        g.call("snbuf_render_unsigned", {out, length, c.value, c.base, c.upper});
        EXPECT_EQ(g.read32(length), c.expected.size());
        EXPECT_EQ(g.read(out, k_buffer), with_canary(c.expected));
    }
}

TEST(BoundedFormatter, Integers) {
    expect_bounded({
        {"%d|%i|%u|", {w(0x80000000), w(123), w(4294967295)}, "-2147483648|123|4294967295|"},
        {"%x|%X|", {w(48879), w(48879)}, "beef|BEEF|"},
        {"%5d|%-5d|%05d|%05d|", {w(42), w(42), w(42), w(-42)}, "   42|42   |00042|-0042|"},
        {"%+05d|%+5d|%-05d|", {w(42), w(42), w(42)}, "+0042|  +42|42   |"},
        {"%05.3d|%-5.3d|%08.0x|", {w(7), w(-7), w(0xab)}, "  007|-007 |      ab|"},
        {"%.0d|%.0u|%.0x|", {w(0), w(0), w(0)}, "0|0|0|"},
        {"%+d|%+u|%+x|", {w(0), w(5), w(255)}, "+0|5|ff|"},
        {"%0*d|%*d|%.*d|", {w(5), w(3), w(-6), w(42), w(-1), w(42)}, "00003|42|42|"},
        {"%ld %d|%zu|%lx|", {w(1), w(2), w(3), w(0xff)}, "1 2|3|ff|"},
        {"%3d|", {w(-12345)}, "-12345|"},
    });
}

TEST(BoundedFormatter, LongLongTakesTheWholeValue) {
    expect_bounded({
        {"%lld %d|", {ll(static_cast<uint64_t>(-5)), w(7)}, "-5 7|"},
        {"%llu|", {ll(k_u64_max)}, "18446744073709551615|"},
        {"%lld|", {ll(k_i64_min)}, "-9223372036854775808|"},
        {"%llX|%llx|", {ll(0xdeadbeefcafebabe), ll(0x100000000)}, "DEADBEEFCAFEBABE|100000000|"},
        {"%+025lld|", {ll(1ull << 40)}, "+000000000001099511627776|"},
        {"%llp|%d", {ll(0x123456789), w(9)}, "0x123456789|9"},
    });
}

TEST(BoundedFormatter, CharactersPointersStringsAndEchoes) {
    expect_bounded({
        {"%5c|", {w(0x141)}, "A|"},
        {"%p|%10p|%p|", {w(0x1234), w(0x1234), w(0)}, "0x1234|0x1234|0x0|"},
        {"%s|%.3s|%s|", {w(0), w(0), w(16)}, "(null)|(nu||"},
        {"%5.2s|%05s|%3s|", {str("abc"), str("ab"), str("")}, "   ab|   ab|   |"},
        {"%-5s|%-2s|", {str("ab"), str("abc")}, "ab   |abc|"},
        {"%.*s|%*s|", {w(-1), str("abc"), w(-4), str("ab")}, "abc|ab|"},
        {"%.3s|%.2s|%.0s|", {edge("abc"), edge("abc"), edge("")}, "abc|ab||"},
        {"%4.3s|%-4.3s|", {edge("abc"), edge("abc")}, " abc|abc |"},
        {"%%|%5%|%l%|", {}, "%|%|%|"},
        {"%q|%-05.3q|% d|%#x|%hd|", {}, "%q|%q|% d|%#x|%hd|"},
        {"%zz|%lllx|%lz|", {}, "%z|%lx|%z|"},
        {"%*5d|", {w(3)}, "%5d|"},
        {"%\xe9|", {}, "%\xe9|"},
        {"abc%", {}, "abc"},
        {"ab%5", {}, "ab"},
        {"ab%l", {}, "ab"},
        {"ab%.", {}, "ab"},
        {"ab%z", {}, "ab"},
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
        {1, "hello", {}, 5, "\0"s},
        {2, "hello", {}, 5, "h\0"s},
        {5, "hello", {}, 5, "hell\0"s},
        {6, "hello", {}, 5, "hello\0"s},
        {64, "hello", {}, 5, "hello\0"s},
        {0x80000000, "hello", {}, 5, "hello\0"s},
        {0xffffffff, "hello", {}, 5, "hello\0"s},
        {4, "%05d", {w(-1)}, 5, "-00\0"s},
        {3, "%p", {w(0x1234)}, 6, "0x\0"s},
        {2, "%q", {}, 2, "%\0"s},
        {1, "", {}, 0, "\0"s},
        {3, "%s", {str("abcdef")}, 6, "ab\0"s},
        {8, "a%cb", {w(0)}, 3, "a\0b\0"s},
    };
    Guest g;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format + " size " + std::to_string(c.size));
        const uint32_t buf = canary_buffer(g);
        const auto args = place_args(g, {buf, c.size, g.place_string(c.format)}, c.args);
        EXPECT_EQ(g.call("snprintf", args), c.expected_result);
        EXPECT_EQ(g.read(buf, k_buffer), with_canary(c.expected_stored));
    }

    const uint32_t buf = canary_buffer(g);
    EXPECT_EQ(g.call("snprintf", {0, 0, g.place_string("abc")}), 3u);
    EXPECT_EQ(g.call("snprintf", {0, 8, g.place_string("abc")}), 3u)
        << "a null buffer only measures";
    EXPECT_EQ(g.call("snprintf", {buf, 8, 0}), 0u);
    EXPECT_EQ(g.read(buf, k_buffer), with_canary("\0"s)) << "a null format stores the empty string";
}

TEST(BoundedFormatter, WrappersPassTheirArgumentsOn) {
    Guest g;
    const uint32_t format = g.place_string("%s=%d");
    // A va_list here is a pointer to the argument words.
    const std::vector<uint32_t> words = place_args(g, {}, {str("x"), w(5)});
    std::string packed;
    for (uint32_t word : words) packed.append(reinterpret_cast<const char *>(&word), 4);
    const uint32_t ap = g.place(packed);

    uint32_t buf = canary_buffer(g);
    EXPECT_EQ(g.call("vsnprintf", {buf, 3, format, ap}), 3u);
    EXPECT_EQ(g.read(buf, k_buffer), with_canary("x=\0"s));
    buf = canary_buffer(g);
    EXPECT_EQ(g.call("vsprintf", {buf, format, ap}), 3u);
    EXPECT_EQ(g.read(buf, k_buffer), with_canary("x=5\0"s));
    buf = canary_buffer(g);
    EXPECT_EQ(g.call("sprintf", {buf, format, words[0], words[1]}), 3u);
    EXPECT_EQ(g.read(buf, k_buffer), with_canary("x=5\0"s));
}

TEST(BoundedFormatter, SprintfStopsStoringAt64K) {
    Guest g;
    constexpr uint32_t k_length = 70000;
    const uint32_t buf = g.place(std::string(k_length + 8, k_canary));
    EXPECT_EQ(g.call("sprintf", {buf, g.place_string("%70000s"), g.place_string("x")}), k_length);
    EXPECT_EQ(g.read(buf, 0x10000 + 1), std::string(0xffff, ' ') + '\0' + k_canary);
}

TEST(StreamFormatter, Integers) {
    expect_stream({
        {"%5d|%05d|%05d|", {w(42), w(42), w(-42)}, "   42|   42|  -42|"},
        {"%5.3d|%.5d|%3d|", {w(-7), w(-3), w(-12345)}, " -007|-00003|-12345|"},
        {"%.0d|%x|%u|%i|", {w(0), w(255), w(-1), w(0x80000000)}, "0|ff|4294967295|-2147483648|"},
        {"%*d|%*d|%.*d|", {w(4), w(1), w(-4), w(2), w(3), w(4)}, "   1|2|004|"},
        {"%p|%10p|%.4p|%p|",
         {w(0x1234), w(0x1234), w(0x12), w(0)},
         "0x1234|    0x1234|0x0012|0x0|"},
        {"%lld %d|", {ll(static_cast<uint64_t>(-5)), w(7)}, "-5 7|"},
        {"%llu|%llx|", {ll(k_u64_max), ll(k_u64_max)}, "18446744073709551615|ffffffffffffffff|"},
        {"%lld|", {ll(k_i64_min)}, "-9223372036854775808|"},
        {"%24.20lld|", {ll(static_cast<uint64_t>(-1))}, "   -00000000000000000001|"},
        {"%llp|%ld|", {ll(0x123456789abcdef0), w(-5)}, "0x123456789abcdef0|-5|"},
    });
}

TEST(StreamFormatter, StringsCharactersAndEchoes) {
    expect_stream({
        {"%5c|", {w(65)}, "A|"},
        {"%5s|%5.2s|%.*s|", {str("abc"), str("abc"), w(-1), str("abc")}, "  abc|   ab|abc|"},
        {"%s|%3s|%.2s|%2s|", {w(0), str(""), w(0), w(16)}, "(null)|   |(n|  |"},
        {"%.3s|%5.2s|%.0s|", {edge("abc"), edge("abc"), edge("")}, "abc|   ab||"},
        {"%-5d|%+d|%X|%zu|% d|%lllx|", {}, "%-5d|%+d|%X|%zu|% d|%lx|"},
        {"%%|%5%|%l%|%ll%|", {}, "%|%|%|%|"},
        {"%\xe9|", {}, "%\xe9|"},
        {"abc%", {}, "abc"},
        {"ab%5", {}, "ab"},
        {"ab%l", {}, "ab"},
        {"ab%.", {}, "ab"},
        {"ab%*", {w(3)}, "ab"},
        {"", {}, ""},
    });
}

TEST(StreamFormatter, EachPieceIsOneWriterCall) {
    struct Case {
        std::string format;
        std::vector<Arg> args;
        std::vector<uint32_t> expected_writes;
    };
    const std::vector<Case> cases = {
        {"ab", {}, {1, 1}},
        {"%8.5x|", {w(0xbeef)}, {1, 1, 1, 1, 4, 1}},
        {"%6.3d", {w(-42)}, {1, 1, 1, 1, 2}},
        {"%7p", {w(0x1234)}, {1, 1, 1, 4}},
        {"%5s|%s|", {str("abc"), str("")}, {1, 1, 3, 1, 1}},
        {"%q", {}, {1, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        Guest g;
        g.call("fprintf", place_args(g, {standard(g, "stdout"), g.place_string(c.format)}, c.args));
        EXPECT_EQ(write_sizes(g), c.expected_writes);
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
        {"%cAB",
         {w(1), w(2), w(3)},
         3,
         "\xff\x01\x02\x03"
         "A"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format + " failing write " + std::to_string(c.failing_write));
        Guest g;
        g.faults().fail_nth(k_write, c.failing_write, -5);
        const auto args = place_args(g, {g.place_string(c.format)}, c.args);
        EXPECT_EQ(g.call("printf", args), k_minus_one);
        EXPECT_EQ(g.console(), c.expected_console);
        EXPECT_EQ(write_sizes(g).size(), c.failing_write) << "no write after the failed one";
    }
}

TEST(StreamFormatter, LeadingCharacterOnTheConsoleIsAControlPacket) {
    struct Case {
        const char *stream;  // a standard stream, or "fd1" for a record of our own on descriptor 1
        std::string format;
        std::vector<uint32_t> args;
        uint32_t expected_result;
        std::string expected_console;
        std::vector<uint32_t> expected_writes;
    };
    const std::vector<Case> cases = {
        {"stdout", "%c", {0x41, 0x42, 0x43}, 0, "\xff\x41\x42\x43", {4}},
        {"stdout", "%c%c", {0x141, 0x42, 0x43, 0x44}, 1, "\xff\x41\x42\x43\x44", {4, 1}},
        {"stderr", "%cz", {1, 2, 3}, 1, "\xff\x01\x02\x03z", {4, 1}},
        {"fd1", "%c", {0, 0, 0}, 0, "\xff\0\0\0"s, {4}},
        {"stdout", "x%c", {0x41}, 2, "xA", {1, 1}},
        {"stdout", "%5c", {0x41}, 1, "A", {1}},
        {"stdout", "%%c", {}, 2, "%c", {1, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.stream) + " " + c.format);
        Guest g;
        const uint32_t stream =
            std::string(c.stream) == "fd1" ? descriptor_stream(g, 1) : standard(g, c.stream);
        std::vector<uint32_t> args = {stream, g.place_string(c.format)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(g.call("fprintf", args), c.expected_result);
        EXPECT_EQ(g.console(), c.expected_console);
        EXPECT_EQ(write_sizes(g), c.expected_writes);
    }
}

TEST(StreamFormatter, LeadingCharacterOnAMemoryStreamIsACharacter) {
    expect_stream({
        {"%c", {w(0x41), w(0x42), w(0x43)}, "A"},
        {"%c%c|", {w(0x141), w(0x42)}, "AB|"},
    });

    Guest g;
    const MemoryStream m = open_memory(g);
    g.write32(g.symbol("stdout"), m.stream);
    EXPECT_EQ(g.call("printf", {g.place_string("%c=%d"), 'x', 7}), 3u);
    EXPECT_EQ(g.call("puts", {g.place_string("!")}), 0u);
    EXPECT_EQ(memory_content(g, m), "x=7!\n");
    EXPECT_TRUE(g.console().empty()) << "no control packet, nothing on the console";
}

TEST(StreamFormatter, PrintfFollowsStdoutAndRefusesNulls) {
    Guest g;
    const uint32_t format = g.place_string("%c%d");
    EXPECT_EQ(g.call("printf", {format, 'a', 'b', 'c', 42}), 2u);
    EXPECT_EQ(g.console(),
              "\xff"
              "abc42");

    // Output to descriptor 0 fails: no packet and no character get through.
    EXPECT_EQ(g.call("fprintf", {descriptor_stream(g, 0), format, 'a', 42}), k_minus_one);
    EXPECT_EQ(g.call("fprintf", {descriptor_stream(g, 0), g.place_string("")}), 0u);
    EXPECT_EQ(g.call("fprintf", {0, format}), k_minus_one);
    EXPECT_EQ(g.call("fprintf", {standard(g, "stdout"), 0}), k_minus_one);
    EXPECT_EQ(g.call("printf", {0}), k_minus_one);
    g.write32(g.symbol("stdout"), 0);
    EXPECT_EQ(g.call("printf", {g.place_string("x")}), k_minus_one);
    EXPECT_EQ(g.console(),
              "\xff"
              "abc42");
}

}  // namespace
}  // namespace kivos::test
