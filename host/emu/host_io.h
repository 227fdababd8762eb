// Reading and writing host descriptors for the guest: interrupted calls are
// retried, and failures come back as negated kivos error numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kivos::emu {

// One read of at most `limit` bytes into `out`: their count, 0 at the end, or an error.
int32_t read_host(int fd, uint32_t limit, std::string &out);
// All of `bytes`, however many writes it takes: 0, or an error.
int32_t write_host(int fd, std::string_view bytes);

}  // namespace kivos::emu
