// What one allocation costs at several fills of the arena: a bump pointer costs
// the same whether the arena is empty or nearly full.
#include <cstdint>

#include "harness/guest.h"
#include "report.h"

namespace {

using kivos::bench::report;
using kivos::test::Guest;

constexpr uint32_t k_arena_size = 0x100000;

// Takes one block so that the arena's fill reaches `mark` (a multiple of 8 past the current fill).
void fill_to(Guest &g, uint32_t mark) {
    const uint32_t used = g.read32(g.symbol("g_heap_used"));
    if (mark > used) g.call("malloc", {mark - used - 4});
}

}  // namespace

int main() {
    Guest g(kivos::bench::counting());
    report(g, "malloc(16), empty arena", "malloc", {16});
    fill_to(g, k_arena_size / 2);
    report(g, "malloc(16), arena half full", "malloc", {16});
    fill_to(g, k_arena_size - 64);
    report(g, "malloc(16), 64 bytes left", "malloc", {16});
    report(g, "malloc(0), 40 bytes left", "malloc", {0});
    fill_to(g, k_arena_size - 16);
    report(g, "malloc(16), refused with 16 bytes left", "malloc", {16});
    return 0;
}
