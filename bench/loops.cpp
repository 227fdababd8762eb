// The guest side of the machine's throughput figures: `loops compute|load|store
// ROUNDS` runs one of the benchmark loops and exits 0.
#include <kivos/meta.h>
#include <stdlib.h>

#include "loop_bodies.h"

KIVOS_COMMAND_RECORD("loops", "Throughput loops for the machine's benchmarks");
KIVOS_PACKAGE_RECORD("kivos_bench", "0");

namespace {

unsigned words[4];

bool same(const char *a, const char *b) {
    while (*a != 0 && *a == *b) ++a, ++b;
    return *a == *b;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    const unsigned rounds = static_cast<unsigned>(strtoul(argv[2], nullptr, 10));
    if (rounds == 0) return 2;
    if (same(argv[1], "compute"))
        kivos::bench::compute_loop(rounds);
    else if (same(argv[1], "load"))
        kivos::bench::load_loop(rounds, words);
    else if (same(argv[1], "store"))
        kivos::bench::store_loop(rounds, words);
    else
        return 2;
    return 0;
}
