// strtok inside the machine, on a string and delimiter sets that end at guard pages, against the
// host's strtok: the same tokens, the same terminators written, then null for good. A null set
// has no members: the rest of the string is one token.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>

#include "library.h"

namespace {

using kivos::fuzz::require;

std::string without_nul(std::string text) {
    text.resize(std::min(text.find('\0'), text.size()));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    auto &lib = kivos::fuzz::library();
    std::string host = without_nul(in.ConsumeRandomLengthString(200));
    const uint32_t text = lib.at_edge(0, host + '\0');
    uint32_t start = text;
    char *host_start = host.data();
    // Each call may bring its own set, as strtok allows; past the last token every call is null.
    for (int call = 0; call < 64 && in.remaining_bytes() > 0; ++call) {
        const bool none = in.ConsumeIntegralInRange(0, 9) == 0;
        const std::string delimiters = without_nul(in.ConsumeRandomLengthString(6));
        const uint32_t token =
            lib.call("strtok", {start, none ? 0 : lib.at_edge(1 + call % 2, delimiters + '\0')});
        const char *expected = std::strtok(host_start, none ? "" : delimiters.c_str());
        require(token == (expected ? text + static_cast<uint32_t>(expected - host.data()) : 0),
                "strtok's token");
        require(lib.read(text, host.size()) == host, "strtok's terminators");
        start = 0;
        host_start = nullptr;
    }
    return 0;
}
