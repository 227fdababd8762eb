// Instructions that the conversions cost on the emulated machine, one line per case.
#include <cstdio>

#include "harness/guest.h"

using kivos::test::Guest;
using kivos::test::GuestOptions;

int main() {
    GuestOptions options;
    options.count_instructions = true;
    Guest g(options);

    g.call_x87("strtod", {g.place_string("3.14159"), 0});
    std::printf("strtod(\"3.14159\"): %llu instructions\n",
                static_cast<unsigned long long>(g.instructions()));

    g.call("strtoul", {g.place_string("4294967295"), 0, 10});
    std::printf("strtoul(\"4294967295\", 10): %llu instructions\n",
                static_cast<unsigned long long>(g.instructions()));

    const uint32_t number = g.reserve(4);
    const uint32_t word = g.reserve(16);
    g.call("sscanf", {g.place_string("123 abc"), g.place_string("%d %s"), number, word});
    std::printf("sscanf(\"123 abc\", \"%%d %%s\"): %llu instructions\n",
                static_cast<unsigned long long>(g.instructions()));
    return 0;
}
