// The guest's console (descriptor 1) and its input (descriptor 0 and getkey):
// the host's standard streams, or strings held for a test.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kivos::emu {

class ConsoleOutput {
  public:
    // From now on, keep the bytes instead of writing them to the host.
    void capture() { captured_.emplace(); }
    std::string &captured();

    // Everything or a negative error number; host writes loop until done.
    int32_t write(std::string_view bytes);

  private:
    std::optional<std::string> captured_;
};

class ConsoleInput {
  public:
    // From now on, read these bytes instead of the host's standard input.
    void provide(std::string bytes);

    // Up to `limit` bytes, 0 at the end, or a negative error number.
    int32_t read(uint32_t limit, std::string &out);
    // The next byte, or -1 at the end.
    int32_t next_byte();

  private:
    std::optional<std::string> provided_;
    size_t position_ = 0;
};

}  // namespace kivos::emu
