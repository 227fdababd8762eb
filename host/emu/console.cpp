#include "emu/console.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "emu/errors.h"

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
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -errno;
        done += static_cast<size_t>(n);
    }
    return static_cast<int32_t>(done);
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
    out.resize(limit);
    ssize_t n;
    do {
        n = ::read(STDIN_FILENO, out.data(), limit);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -errno;
    out.resize(static_cast<size_t>(n));
    return static_cast<int32_t>(n);
}

int32_t ConsoleInput::next_byte() {
    std::string byte;
    if (read(1, byte) != 1) return -1;
    return static_cast<uint8_t>(byte[0]);
}

}  // namespace kivos::emu
