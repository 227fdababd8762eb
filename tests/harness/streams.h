// Streams and files as the stream tests set them up.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "harness/guest.h"

namespace kivos::test {

// The whole file, or "" when it cannot be read.
std::string read_file(const std::filesystem::path &path);
void write_file(const std::filesystem::path &path, const std::string &bytes);

// The value of the guest's stdin, stdout or stderr pointer.
uint32_t standard_stream(Guest &g, const char *name);

// A stream record of our own in guest memory: the kind and descriptor, every other field 0.
uint32_t place_stream(Guest &g, uint32_t kind, uint32_t fd);

// A file of the sandbox with the given bytes, opened by the guest's fopen(name, "r").
uint32_t open_for_reading(Guest &g, const std::string &name, const std::string &content);

}  // namespace kivos::test
