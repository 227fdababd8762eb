#include "emu/console.h"

#include <unistd.h>

#include <algorithm>

#include "emu/errors.h"
#include "emu/host_io.h"

namespace kivos::emu {

std::string &ConsoleOutput::captured() {
    if (!captured_) throw MachineError("the console is not being captured");
    return *captured_;
}

int32_t ConsoleOutput::write(std::string_view bytes) {
    if (captured_) {
        captured_->append(bytes);
        return static_cast<int32_t>(bytes.size());
    }
    if (const int32_t error = write_host(STDOUT_FILENO, bytes); error != 0) return error;
    return static_cast<int32_t>(bytes.size());
}

void ConsoleInput::provide(std::string bytes) {
    provided_ = std::move(bytes);
    position_ = 0;
}

int32_t ConsoleInput::read(uint32_t limit, std::string &out) {
    if (provided_) {
        const size_t n = std::min<size_t>(limit, provided_->size() - position_);
        out.assign(*provided_, position_, n);
        position_ += n;
        return static_cast<int32_t>(n);
    }
    return read_host(STDIN_FILENO, limit, out);
}

int32_t ConsoleInput::next_byte() {
    if (provided_) {
        if (position_ == provided_->size()) return -1;
        return static_cast<uint8_t>((*provided_)[position_++]);
    }
    std::string byte;
    if (read_host(STDIN_FILENO, 1, byte) != 1) return -1;
    return static_cast<uint8_t>(byte[0]);
}

}  // namespace kivos::emu
