// Instructions that one formatted line costs on the kivos machine: into a buffer, and onto the
// console.
#include <cstdint>
#include <cstdio>

#include "harness/guest.h"

namespace {

using kivos::test::Guest;
using kivos::test::GuestOptions;

constexpr uint32_t k_value = static_cast<uint32_t>(-12345);
constexpr uint32_t k_hex = 0xbeef;

}  // namespace

int main() {
    GuestOptions options;
    options.count_instructions = true;
    Guest g(options);
    const uint32_t format = g.place_string("%d %s %x");
    const uint32_t hello = g.place_string("hello");
    const uint32_t buf = g.reserve(64);

    g.call("snprintf", {buf, 64, format, k_value, hello, k_hex});
    std::printf(
        "snprintf(buf, 64, \"%%d %%s %%x\", -12345, \"hello\", 0xbeef): %llu instructions\n",
        static_cast<unsigned long long>(g.instructions()));

    g.call("printf", {format, k_value, hello, k_hex});
    std::printf("printf(\"%%d %%s %%x\", -12345, \"hello\", 0xbeef): %llu instructions\n",
                static_cast<unsigned long long>(g.instructions()));
    return 0;
}
