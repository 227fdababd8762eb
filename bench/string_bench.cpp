// Instructions that the string and memory routines cost on the kivos machine, one line per case.
#include <cstdint>
#include <string>

#include "harness/guest.h"
#include "report.h"

using kivos::bench::report;

int main() {
    kivos::test::Guest g(kivos::bench::counting());
    const std::string hundred(100, 'a');
    report(g, "strlen, 100 bytes", "strlen", {g.place_string(hundred)});
    report(g, "strcmp, two equal 100-byte strings", "strcmp",
           {g.place_string(hundred), g.place_string(hundred)});
    constexpr uint32_t k_block = 4096;
    const uint32_t a = g.reserve(k_block + 16), b = g.reserve(k_block + 16);
    report(g, "memcpy, 4 KiB", "memcpy", {a, b, k_block});
    report(g, "memset, 4 KiB", "memset", {a, 'x', k_block});
    report(g, "memmove, 4 KiB down by 8 bytes", "memmove", {a, a + 8, k_block});
    report(g, "memmove, 4 KiB up by 8 bytes", "memmove", {a + 8, a, k_block});
    return 0;
}
