#include "harness/streams.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "harness/guest_abi.h"

namespace kivos::test {

std::string read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::filesystem::path &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

uint32_t standard_stream(Guest &g, const char *name) {
    return g.read32(g.symbol(name));
}

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

}  // namespace kivos::test
