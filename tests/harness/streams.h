// Streams as the stream tests set them up.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "harness/guest.h"
#include "harness/guest_abi.h"

namespace kivos::test {

// A stream record of our own in guest memory: the kind and descriptor, every other field 0.
uint32_t place_stream(Guest &g, uint32_t kind, uint32_t fd);

// A file of the sandbox with the given bytes, opened by the guest's fopen(name, "r").
uint32_t open_for_reading(Guest &g, const std::string &name, const std::string &content);

// A memory stream and the caller's two variables: the buffer pointer, then the size.
struct MemoryStream {
    uint32_t stream;
    uint32_t vars;
    uint32_t buffer(const Guest &g) const { return g.read32(vars); }
    uint32_t size(const Guest &g) const { return g.read32(vars + 4); }
    // What the stream holds, checked against the NUL behind it.
    std::string content(const Guest &g) const;
};
MemoryStream open_memory(Guest &g);

// The stream's position and its end-of-file flag.
inline std::pair<uint32_t, uint32_t> state_of(const Guest &g, uint32_t stream) {
    return {g.read32(stream + file_record::position), g.read32(stream + file_record::eof_flag)};
}

}  // namespace kivos::test
