// The routines that work a word at a time, against a byte-by-byte model: every alignment, every
// length from 0 to 64, inputs that end just before an unmapped page.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "harness/guest.h"

namespace kivos::test {
namespace {

constexpr size_t k_longest = 64;
constexpr uint32_t k_span = 128;  // the bytes before each page edge that the cases use

// No zero byte, but bytes from 0x80 up (which trip the quick zero test in vain) and 0x01.
std::string sample(size_t length) {
    static const std::string k_bytes = "a\x80Z\xff \x01\x7f\x81q";
    std::string s;
    for (size_t i = 0; i < length; ++i) s += k_bytes[i % k_bytes.size()];
    return s;
}

// C's comparison over at most n bytes, stopping after a terminator in a when `strings`.
int model_compare(const std::string &a, const std::string &b, size_t n, bool strings) {
    for (size_t i = 0; i < n; ++i) {
        const int d = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
        if (d != 0 || (strings && a[i] == '\0')) return d;
    }
    return 0;
}

// Two spans of guest memory that end where an unmapped page begins, refilled for every case:
// the first with zeros, the second with 0xAA (a read outside an input changes what a routine
// sees) or zeros (a read past an input's end runs on to the edge and faults).
struct Edges {
    Guest g;
    uint32_t end[2] = {g.place_at_edge(std::string(k_span, 0)) + k_span,
                       g.place_at_edge(std::string(k_span, 0)) + k_span};
    char second_filler = '\xaa';

    // `bytes` from an address of the given alignment (0 to 3), ending 0 to 3 bytes before the edge.
    uint32_t place(int span, const std::string &bytes, uint32_t alignment) {
        g.write(end[span] - k_span, std::string(k_span, span == 0 ? '\0' : second_filler));
        uint32_t start = end[span] - static_cast<uint32_t>(bytes.size());
        start -= (start - alignment) & 3;
        g.write(start, bytes);
        return start;
    }
    std::string span(int s) const { return g.read(end[s] - k_span, k_span); }
    size_t offset(int s, uint32_t address) const { return address - (end[s] - k_span); }

    int32_t call(const char *function, std::vector<uint32_t> args) {
        try {
            return static_cast<int32_t>(g.call(function, std::move(args)));
        } catch (const GuestFault &fault) {
            ADD_FAILURE() << function << ": " << fault.what();
            return 0;
        }
    }
};

// b is a itself, a with its last byte raised, and a cut short by a zero byte halfway.
TEST(WordRoutines, ComparisonsMatchTheByteModel) {
    Edges e;
    for (uint32_t n = 0; n <= k_longest && !testing::Test::HasFailure(); ++n) {
        const std::string a = sample(n) + '\0';
        e.second_filler = n % 2 == 0 ? '\xaa' : '\0';
        std::vector<std::string> others = {a};
        if (n > 0) {
            std::string raised = a, cut = a;
            raised[n - 1] = static_cast<char>(a[n - 1] + 1);
            cut[n / 2] = '\0';
            others.insert(others.end(), {raised, cut});
        }
        for (uint32_t x = 0; x < 16; ++x) {
            for (const std::string &b : others) {
                SCOPED_TRACE("length " + std::to_string(n) + " alignments " + std::to_string(x));
                const uint32_t pa = e.place(0, a, x % 4), pb = e.place(1, b, x / 4);
                EXPECT_EQ(e.call("strcmp", {pa, pb}), model_compare(a, b, n + 1, true));
                EXPECT_EQ(e.call("strncmp", {pa, pb, n}), model_compare(a, b, n, true));
                EXPECT_EQ(e.call("strncmp", {pa, pb, n + 4}), model_compare(a, b, n + 1, true));
                const uint32_t qa = e.place(0, a.substr(0, n), x % 4);
                const uint32_t qb = e.place(1, b.substr(0, n), x / 4);
                EXPECT_EQ(e.call("memcmp", {qa, qb, n}), model_compare(a, b, n, false));
            }
        }
    }
}

// Apart (memmove both ways), overlapping by 1 to 8 bytes either way, and filled: the whole span
// after each call against the same change made on the host.
TEST(WordRoutines, MovesAndFillsMatchTheByteModel) {
    Edges e;
    for (uint32_t n = 0; n <= k_longest && !testing::Test::HasFailure(); ++n) {
        const std::string bytes = sample(n);
        for (uint32_t x = 0; x < 16; ++x) {
            SCOPED_TRACE("length " + std::to_string(n) + " alignments " + std::to_string(x));
            for (const char *function : {"memcpy", "memmove"}) {
                for (int to = 0; to < 2; ++to) {
                    const uint32_t src = e.place(1 - to, bytes, x % 4);
                    const uint32_t dst = e.place(to, std::string(n, '\x55'), x / 4);
                    const std::string expected = e.span(to).replace(e.offset(to, dst), n, bytes);
                    EXPECT_EQ(e.call(function, {dst, src, n}), static_cast<int32_t>(dst));
                    EXPECT_EQ(e.span(to), expected) << function << " into span " << to;
                }
            }
            const int shift = (x < 8 ? 1 : -1) * static_cast<int>(x % 8 + 1);
            const uint32_t src = e.place(1, sample(n + 16), x % 4) + 8;
            std::string expected = e.span(1);
            std::memmove(&expected[e.offset(1, src) + shift], &expected[e.offset(1, src)], n);
            e.call("memmove", {src + static_cast<uint32_t>(shift), src, n});
            EXPECT_EQ(e.span(1), expected) << "shifted by " << shift;
            const uint32_t dst = e.place(0, bytes, x % 4);
            const std::string filled = e.span(0).replace(e.offset(0, dst), n, n, '\xa5');
            EXPECT_EQ(e.call("memset", {dst, 0x1A5, n}), static_cast<int32_t>(dst));
            EXPECT_EQ(e.span(0), filled);
        }
    }
    // A count of 0 touches nothing, not even a null pointer.
    EXPECT_EQ(e.call("memcpy", {16, 0, 0}), 16);
    EXPECT_EQ(e.call("memmove", {0, 16, 0}), 0);
    EXPECT_EQ(e.call("memset", {0, 'x', 0}), 0);
    EXPECT_EQ(e.call("memcmp", {0, 16, 0}), 0);
}

}  // namespace
}  // namespace kivos::test
