// strtok inside the machine, on a string and delimiter sets that end at guard pages, against the
// host's strtok: the same tokens, the same terminators written, then null for good. A null set
// has no members: the rest of the string is one token.
#include <cstring>

#include "library.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    kivos::fuzz::Input in(data, size);
    auto &lib = kivos::fuzz::library();
    std::string host = in.text(200);
    const uint32_t text = lib.c_string(0, host);
    // Each call may bring its own set, as strtok allows; past the last token every call is null.
    for (int call = 0; call < 64 && in.remaining_bytes() > 0; ++call) {
        const bool none = in.ConsumeIntegralInRange(0, 9) == 0;
        const std::string delimiters = in.text(6);
        const uint32_t token = lib.call(
            "strtok", {call ? 0 : text, none ? 0 : lib.c_string(1 + call % 2, delimiters)});
        const char *expected =
            std::strtok(call ? nullptr : host.data(), none ? "" : delimiters.c_str());
        kivos::fuzz::require(token == (expected ? text + (expected - host.data()) : 0) &&
                                 lib.read(text, host.size()) == host,
                             "strtok's token and terminators");
    }
    return 0;
}
