#include "harness/streams.h"

#include <gtest/gtest.h>

namespace kivos::test {

uint32_t place_stream(Guest &g, uint32_t kind, uint32_t fd) {
    const uint32_t stream = g.reserve(file_record::size);
    g.write32(stream + file_record::kind, kind);
    g.write32(stream + file_record::fd, fd);
    return stream;
}

uint32_t open_for_reading(Guest &g, const std::string &name, const std::string &content) {
    write_file(g.root() / name, content);
    const uint32_t stream = g.call("fopen", {g.place_string(name), g.place_string("r")});
    EXPECT_NE(stream, 0u) << "fopen of " << name;
    return stream;
}

std::string MemoryStream::content(const Guest &g) const {
    if (size(g) == 0) return "";
    const std::string held = g.read(buffer(g), size(g) + 1);
    EXPECT_EQ(held.back(), '\0');
    return held.substr(0, size(g));
}

MemoryStream open_memory(Guest &g) {
    const uint32_t vars = g.reserve(8, 0x5a);
    return {g.call("open_memstream", {vars, vars + 4}), vars};
}

}  // namespace kivos::test
