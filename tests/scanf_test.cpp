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

TEST(Sscanf, Integers) {
    expect_scans({
        {"42", "%d", 1, {{'n', "42"}}},        {" \t-7", "%d", 1, {{'n', "-7"}}},
        {"+5", "%d", 1, {{'n', "5"}}},         {"-", "%d", 0, {{'n', untouched}}},
        {"- 5", "%d", 0, {{'n', untouched}}},  {"", "%d", 0, {{'n', untouched}}},
        {"x", "%d", 0, {{'n', untouched}}},    {"4294967297", "%d", 1, {{'n', "1"}}},
        {"0x1F", "%i", 1, {{'n', "31"}}},      {"0X1f", "%i", 1, {{'n', "31"}}},
        {"017", "%i", 1, {{'n', "15"}}},       {"09", "%i%d", 2, {{'n', "0"}, {'n', "9"}}},
        {"-0x10", "%i", 1, {{'n', "-16"}}},    {"0x", "%i", 0, {{'n', untouched}}},
        {"0xg", "%i", 0, {{'n', untouched}}},  {"0", "%i", 1, {{'n', "0"}}},
        {"0x1F", "%x", 1, {{'n', "0"}}},       {"0x1F", "%x%s", 2, {{'n', "0"}, {'s', "x1F"}}},
        {"-ff", "%x", 1, {{'n', "-255"}}},     {"Ab", "%X", 1, {{'n', "171"}}},
        {"+5", "%u", 0, {{'n', untouched}}},   {" 4294967295", "%u", 1, {{'n', "-1"}}},
        {"4294967296", "%u", 1, {{'n', "0"}}}, {"105", "%u", 1, {{'n', "105"}}},
        {"12345", "%3d", 1, {{'n', "12345"}}}, {"1 2", "%*d %d", 1, {{'n', "2"}}},
    });
}

TEST(Sscanf, CharactersAndWords) {
    expect_scans({
        {" x", "%c", 1, {{'c', " "}}},
        {"", "%c", 0, {{'c', untouched}}},
        {"ab", "%2c%c", 2, {{'c', "a"}, {'c', "b"}}},
        {"\nabc", "%s", 1, {{'s', ""}}},
        {"\nabc", "%s %s", 2, {{'s', ""}, {'s', "abc"}}},
        {" \tone\ttwo three\nfour", "%s%s%s", 3, {{'s', "one"}, {'s', "two"}, {'s', "three"}}},
        {"a\rb c", "%s", 1, {{'s', "a\rb"}}},
        {"", "%s", 0, {{'s', untouched}}},
        {"ab cd", "%*s %s", 1, {{'s', "cd"}}},
        {"abcdefgh", "%5s%s", 2, {{'s', "abcde"}, {'s', "fgh"}}},
        {"abc de", "%5s%s", 2, {{'s', "abc"}, {'s', "de"}}},
        {"abcdefgh", "%1s%*2s%s", 2, {{'s', "a"}, {'s', "defgh"}}},
        {"abcdefgh", "%0s", 1, {{'s', "abcdefgh"}}},
        {"abcdefgh", "%99999999999s", 1, {{'s', "abcdefgh"}}},
    });
}

TEST(Sscanf, DirectivesAndWhereTheyStop) {
    expect_scans({
        {"1\n2", "%d%d", 1, {{'n', "1"}, {'n', untouched}}},
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

TEST(Sscanf, NullArguments) {
    // A null destination takes its field and counts nothing; the next one still gets its value.
    expect_scans({
        {"ab 7", "%s %d", 1, {{'0', untouched}, {'n', "7"}}},
        {"3 4", "%d %d", 1, {{'0', untouched}, {'n', "4"}}},
        {"5 6", "%u %u", 1, {{'0', untouched}, {'n', "6"}}},
        {"xy", "%c%c", 1, {{'0', untouched}, {'c', "y"}}},
    });
    Guest g;
    const uint32_t value = g.reserve(4, k_canary);
    EXPECT_EQ(g.call("sscanf", {0, g.place_string("%d"), value}), 0u);
    EXPECT_EQ(g.call("sscanf", {g.place_string("5"), 0, value}), 0u);
    EXPECT_EQ(g.read32(value), k_canary_word);
}

TEST(Sscanf, VsscanfTakesAnArgumentList) {
    Guest g;
    const uint32_t first = g.reserve(4);
    const uint32_t word = g.reserve(8);
    const uint32_t list = g.reserve(8);
    g.write32(list, first);
    g.write32(list + 4, word);
    EXPECT_EQ(g.call("vsscanf", {g.place_string("-8 ok"), g.place_string("%d %s"), list}), 2u);
    EXPECT_EQ(g.read32(first), static_cast<uint32_t>(-8));
    EXPECT_EQ(g.read_string(word), "ok");
}

TEST(Sscanf, ReadsNoFurtherThanTheTerminators) {
    Guest g;
    const uint32_t out = g.reserve(16);
    const uint32_t input = g.place_at_edge(std::string("12 ab\0", 6));
    const uint32_t format = g.place_at_edge(std::string("%d %s%d\0", 8));
    EXPECT_EQ(g.call("sscanf", {input, format, out, out + 4, out + 12}), 2u);
}

// The stream's position and its end-of-file flag.
std::pair<uint32_t, uint32_t> state_of(Guest &g, uint32_t stream) {
    return {g.read32(stream + file_record::position), g.read32(stream + file_record::eof_flag)};
}

TEST(Fscanf, OneWordPerCall) {
    Guest g;
    const uint32_t stream = open_for_reading(g, "numbers", "  42 17\n");
    const uint32_t value = g.reserve(8);
    const uint32_t format = g.place_string("%d");
    EXPECT_EQ(g.call("fscanf", {stream, format, value}), 1u);
    EXPECT_EQ(g.read32(value), 42u);
    EXPECT_EQ(state_of(g, stream), std::pair(5u, 0u));
    EXPECT_EQ(g.call("fscanf", {stream, format, value}), 1u);
    EXPECT_EQ(g.read32(value), 17u);
    EXPECT_EQ(state_of(g, stream), std::pair(8u, 0u));
    EXPECT_EQ(g.call("fscanf", {stream, format, value}), k_minus_one);
    EXPECT_EQ(state_of(g, stream), std::pair(8u, 1u));

    // The whole format is matched against one word.
    const uint32_t again = open_for_reading(g, "numbers", "  42 17\n");
    EXPECT_EQ(g.call("fscanf", {again, g.place_string("%d %d"), value, value + 4}), 1u);
    EXPECT_EQ(g.read32(value), 42u);
    EXPECT_EQ(state_of(g, again), std::pair(5u, 0u));
}

TEST(Fscanf, WordsAreCutAtWhitespaceAnd255Bytes) {
    Guest g;
    const uint32_t buffer = g.reserve(k_word_buffer);
    const uint32_t format = g.place_string("%s");
    const std::string letters(300, 'q');
    const uint32_t stream =
        open_for_reading(g, "long", letters + std::string("\nab\r\t cd\0ef", 11));
    EXPECT_EQ(g.call("fscanf", {stream, format, buffer}), 1u);
    EXPECT_EQ(g.read_string(buffer), letters.substr(0, 255));
    EXPECT_EQ(state_of(g, stream), std::pair(301u, 0u));
    EXPECT_EQ(g.call("fscanf", {stream, format, buffer}), 1u);
    EXPECT_EQ(g.read_string(buffer), "ab");
    EXPECT_EQ(state_of(g, stream), std::pair(304u, 0u));
    // A NUL read from the stream ends the string that the format sees, not the stream word.
    EXPECT_EQ(g.call("fscanf", {stream, format, buffer}), 1u);
    EXPECT_EQ(g.read_string(buffer), "cd");
    EXPECT_EQ(state_of(g, stream), std::pair(311u, 1u));
    EXPECT_EQ(g.call("fscanf", {stream, format, buffer}), k_minus_one);
    EXPECT_EQ(state_of(g, stream), std::pair(311u, 1u));
}

TEST(Fscanf, StandardInput) {
    Guest g;
    g.set_stdin(" \r\nhello world");
    const uint32_t stdin_record = g.read_symbol("stdin");
    const uint32_t buffer = g.reserve(32);
    const uint32_t format = g.place_string("%s");
    EXPECT_EQ(g.call("fscanf", {stdin_record, format, buffer}), 1u);
    EXPECT_EQ(g.read_string(buffer), "hello");
    EXPECT_EQ(state_of(g, stdin_record), std::pair(9u, 0u));
    EXPECT_EQ(g.call("fscanf", {stdin_record, format, buffer}), 1u);
    EXPECT_EQ(g.read_string(buffer), "world");
    EXPECT_EQ(state_of(g, stdin_record), std::pair(14u, 1u));
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

TEST(Fscanf, ReadFailingInsideAWordEndsIt) {
    Guest g;
    const uint32_t value = g.reserve(4);
    const uint32_t stream = open_for_reading(g, "digits", "1234 5");
    g.faults().fail_nth(KIVOS_SYS_read, 3, -5);
    EXPECT_EQ(g.call("fscanf", {stream, g.place_string("%d"), value}), 1u);
    EXPECT_EQ(g.read32(value), 12u);
    EXPECT_EQ(state_of(g, stream), std::pair(2u, 1u));
}

}  // namespace
}  // namespace kivos::test
