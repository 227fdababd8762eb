// Formatted input from strings and from descriptor streams.
#include <gtest/gtest.h>

#include "harness/streams.h"

namespace kivos::test {
namespace {

constexpr uint8_t k_canary = 0xa5;
constexpr uint32_t k_canary_word = 0xa5a5a5a5;
constexpr size_t k_word_buffer = 300;

// One destination: 'n' a 32-bit number, 'c' one char, 's' a character array, '0' a null pointer.
// `expected` is what it holds afterwards (a number in decimal, read as signed), nullopt when the
// scan must leave it alone.
struct Slot {
    char kind;
    std::optional<std::string> expected;
};

struct ScanCase {
    std::string input;
    std::string format;
    uint32_t count;
    std::vector<Slot> slots;
};

uint32_t place_slot(Guest &g, char kind) {
    switch (kind) {
        case 'n':
            return g.reserve(4, k_canary);
        case 'c':
            return g.reserve(1, k_canary);
        case 's':
            return g.reserve(k_word_buffer, k_canary);
        default:
            return 0;
    }
}

void expect_slot(Guest &g, const Slot &slot, uint32_t address) {
    if (slot.kind == '0') return;
    if (slot.kind == 'n') {
        const uint32_t word = g.read32(address);
        if (slot.expected) {
            EXPECT_EQ(std::to_string(static_cast<int32_t>(word)), *slot.expected);
        } else {
            EXPECT_EQ(word, k_canary_word);
        }
        return;
    }
    const std::string bytes = g.read(address, slot.kind == 'c' ? 1 : k_word_buffer);
    const char canary = static_cast<char>(k_canary);
    if (!slot.expected) {
        EXPECT_EQ(bytes[0], canary);
    } else if (slot.kind == 'c') {
        EXPECT_EQ(bytes[0], (*slot.expected)[0]);
    } else {
        const std::string &word = *slot.expected;
        EXPECT_EQ(bytes.substr(0, word.size() + 1), word + '\0');
        EXPECT_EQ(bytes[word.size() + 1], canary) << "written past the word's NUL";
    }
}

void expect_scans(const std::vector<ScanCase> &cases) {
    Guest g;
    for (const ScanCase &c : cases) {
        SCOPED_TRACE("format \"" + c.format + "\" on \"" + c.input + "\"");
        std::vector<uint32_t> args = {g.place_string(c.input), g.place_string(c.format)};
        for (const Slot &slot : c.slots) args.push_back(place_slot(g, slot.kind));
        EXPECT_EQ(g.call("sscanf", args), c.count);
        for (size_t i = 0; i < c.slots.size(); ++i) expect_slot(g, c.slots[i], args[i + 2]);
    }
}

const std::nullopt_t untouched = std::nullopt;

// What the host's C library reads alike (conversions without widths between blanks, numbers that
// fit) is the scan fuzz target's; these tables hold the library's own rules and the edges.
TEST(Sscanf, Integers) {
    expect_scans({
        {"+5", "%d", 1, {{'n', "5"}}},         {"-", "%d", 0, {{'n', untouched}}},
        {"- 5", "%d", 0, {{'n', untouched}}},  {"", "%d", 0, {{'n', untouched}}},
        {"x", "%d", 0, {{'n', untouched}}},    {"4294967297", "%d", 1, {{'n', "1"}}},
        {"017", "%i", 1, {{'n', "15"}}},       {"09", "%i%d", 2, {{'n', "0"}, {'n', "9"}}},
        {"-0x10", "%i", 1, {{'n', "-16"}}},    {"0x", "%i", 0, {{'n', untouched}}},
        {"0xg", "%i", 0, {{'n', untouched}}},  {"0", "%i", 1, {{'n', "0"}}},
        {"0x1F", "%x", 1, {{'n', "0"}}},       {"0x1F", "%x%s", 2, {{'n', "0"}, {'s', "x1F"}}},
        {"+5", "%u", 0, {{'n', untouched}}},   {" 4294967295", "%u", 1, {{'n', "-1"}}},
        {"4294967296", "%u", 1, {{'n', "0"}}}, {"105", "%u", 1, {{'n', "105"}}},
        {"007", "%u", 1, {{'n', "7"}}},        {"08", "%i%d", 2, {{'n', "0"}, {'n', "8"}}},
        {"12345", "%3d", 1, {{'n', "12345"}}}, {"1 2", "%*d %d", 1, {{'n', "2"}}},
    });
}

TEST(Sscanf, DirectivesAndWhereTheyStop) {
    expect_scans({
        {"1\n2", "%d%d", 1, {{'n', "1"}, {'n', untouched}}},
        {"abcdefghijklmn", "%12s%s", 2, {{'s', "abcdefghijkl"}, {'s', "mn"}}},
        {"1\n2", "%d %d", 2, {{'n', "1"}, {'n', "2"}}},
        {"1 \t\n 2", "%d\t%d", 2, {{'n', "1"}, {'n', "2"}}},
        {"3,4", "%d,%d", 2, {{'n', "3"}, {'n', "4"}}},
        {"3;4", "%d,%d", 1, {{'n', "3"}, {'n', untouched}}},
        {"%", "%%", 0, {}},
        {"5%7", "%d%%%d", 2, {{'n', "5"}, {'n', "7"}}},
        {" %5", "%%%d", 0, {{'n', untouched}}},
        {"A5", "a%d", 0, {{'n', untouched}}},
        {"a5", "a%d", 1, {{'n', "5"}}},
        {"5", "%ld", 0, {{'n', untouched}}},
        {"1.5", "%f", 0, {{'n', untouched}}},
        {"5", "%", 0, {}},
        {"5 6", "%d %*5d", 1, {{'n', "5"}}},
        {"7", "", 0, {}},
        {"", "  ", 0, {}},
        {"12\r", "%d", 1, {{'n', "12"}}},
        {"\r12", "%d", 0, {{'n', untouched}}},
        {"\r12", " %d", 0, {{'n', untouched}}},
        {"1\r2", "%d\r%d", 2, {{'n', "1"}, {'n', "2"}}},
    });
}

TEST(Sscanf, NullArgumentsArgumentListsAndTerminators) {
    // A null destination takes its field and counts nothing; the next one still gets its value.
    expect_scans({
        {"ab 7", "%s %d", 1, {{'0', untouched}, {'n', "7"}}},
        {"3 4", "%d %d", 1, {{'0', untouched}, {'n', "4"}}},
        {"5 6", "%u %u", 1, {{'0', untouched}, {'n', "6"}}},
        {"xy", "%c%c", 1, {{'0', untouched}, {'c', "y"}}},
    });
    Guest g;
    const uint32_t value = g.reserve(4, k_canary), word = g.reserve(8), list = g.reserve(8);
    EXPECT_EQ(g.call("sscanf", {0, g.place_string("%d"), value}), 0u);
    EXPECT_EQ(g.call("sscanf", {g.place_string("5"), 0, value}), 0u);
    EXPECT_EQ(g.read32(value), k_canary_word);
    // vsscanf's list is a pointer to the destination words.
    g.write32(list, value);
    g.write32(list + 4, word);
    EXPECT_EQ(g.call("vsscanf", {g.place_string("-8 ok"), g.place_string("%d %s"), list}), 2u);
    EXPECT_EQ(g.read32(value), static_cast<uint32_t>(-8));
    EXPECT_EQ(g.read_string(word), "ok");
    // Neither the input nor the format is read past its terminator.
    const uint32_t input = g.place_at_edge(std::string("12 ab\0", 6));
    const uint32_t format = g.place_at_edge(std::string("%d %s%d\0", 8));
    EXPECT_EQ(g.call("sscanf", {input, format, value, word, list}), 2u);
}

// Each call matches its whole format against one word of the stream: what it answers and stores,
// and the stream's position and end-of-file flag after it.
TEST(Fscanf, OneWordPerCall) {
    struct Call {
        std::string format;
        uint32_t result;
        std::string stored;  // %s: the string; otherwise the first number, in decimal
        std::pair<uint32_t, uint32_t> state;
    };
    struct Case {
        std::string input;
        bool on_stdin;
        uint32_t failing_read;  // 0: none
        std::vector<Call> calls;
    };
    const std::string letters(300, 'q');
    const std::vector<Case> cases = {
        {"  42 17\n",
         false,
         0,
         {{"%d", 1, "42", {5, 0}}, {"%d", 1, "17", {8, 0}}, {"%d", k_minus_one, "17", {8, 1}}}},
        {"  42 17\n", false, 0, {{"%d %d", 1, "42", {5, 0}}}},
        // A NUL read from the stream ends the string that the format sees, not the stream word.
        {letters + std::string("\nab\r\t cd\0ef", 11),
         false,
         0,
         {{"%s", 1, letters.substr(0, 255), {301, 0}},
          {"%s", 1, "ab", {304, 0}},
          {"%s", 1, "cd", {311, 1}},
          {"%s", k_minus_one, "cd", {311, 1}}}},
        {" \r\nhello world", true, 0, {{"%s", 1, "hello", {9, 0}}, {"%s", 1, "world", {14, 1}}}},
        {"1234 5", false, 3, {{"%d", 1, "12", {2, 1}}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.input.substr(0, 20));
        Guest g;
        if (c.on_stdin) g.set_stdin(c.input);
        const uint32_t stream =
            c.on_stdin ? g.read_symbol("stdin") : open_for_reading(g, "words", c.input);
        if (c.failing_read != 0) g.faults().fail_nth(KIVOS_SYS_read, c.failing_read, -5);
        const uint32_t buffer = g.reserve(k_word_buffer);
        for (const Call &call : c.calls) {
            SCOPED_TRACE(call.format + " " + call.stored);
            EXPECT_EQ(g.call("fscanf", {stream, g.place_string(call.format), buffer, buffer + 4}),
                      call.result);
            EXPECT_EQ(call.format == "%s" ? g.read_string(buffer)
                                          : std::to_string(static_cast<int32_t>(g.read32(buffer))),
                      call.stored);
            EXPECT_EQ(state_of(g, stream), call.state);
        }
    }
}

TEST(Fscanf, RefusalsAndFailedReads) {
    Guest g;
    const uint32_t value = g.reserve(4);
    const uint32_t format = g.place_string("%d");
    const uint32_t stream = open_for_reading(g, "one", "1 2");
    g.clear_trace();
    EXPECT_EQ(g.call("fscanf", {0, format, value}), k_minus_one);
    EXPECT_EQ(g.call("fscanf", {stream, 0, value}), k_minus_one);
    for (uint32_t kind : {k_stream_memory, k_stream_spooled, 0u}) {
        EXPECT_EQ(g.call("fscanf", {place_stream(g, kind, 0), format, value}), k_minus_one);
    }
    EXPECT_TRUE(g.trace().empty()) << "refused without reading";

    // A bad descriptor reads as the end of the stream.
    const uint32_t bad = place_stream(g, k_stream_fd, 99);
    EXPECT_EQ(g.call("fscanf", {bad, format, value}), k_minus_one);
    EXPECT_EQ(state_of(g, bad), std::pair(0u, 1u));
}

}  // namespace
}  // namespace kivos::test
