// What a descriptor refers to: the console, a file in the sandbox or one end
// of a pipe, all behind one small interface. Descriptors that share a channel
// (through dup, dup2 or spawn) share its file position and its end of a pipe.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

#include "emu/console.h"
#include "emu/owned_fd.h"

namespace kivos::emu {

// A transfer that cannot happen yet. The kernel then makes the caller wait,
// or answers "would block" on a non-blocking descriptor; no guest sees it.
inline constexpr int32_t kWouldBlock = INT32_MIN;

class Channel {
  public:
    virtual ~Channel() = default;

    // Up to `limit` bytes into `out`: their count, 0 at the end of input, a
    // negated kivos error number or kWouldBlock. Refused (EBADF) unless overridden.
    virtual int32_t read(uint32_t limit, std::string &out);
    // Takes a prefix of `bytes` and answers its length (at least 1 for bytes
    // that are not empty), a negated kivos error number or kWouldBlock.
    virtual int32_t write(std::string_view bytes);
    // The new offset, or a negated kivos error number (ESPIPE where there is none).
    virtual int32_t seek(int32_t offset, int32_t whence);
    // The host file behind the channel, for copies into mapped memory; -1 if none.
    virtual int host_file() const { return -1; }
};

class ConsoleReader final : public Channel {
  public:
    explicit ConsoleReader(ConsoleInput &input) : input_(input) {}
    int32_t read(uint32_t limit, std::string &out) override;

  private:
    ConsoleInput &input_;
};

class ConsoleWriter final : public Channel {
  public:
    explicit ConsoleWriter(ConsoleOutput &output) : output_(output) {}
    int32_t write(std::string_view bytes) override;

  private:
    ConsoleOutput &output_;
};

// A host file opened inside the sandbox for reading, writing or both.
class FileChannel final : public Channel {
  public:
    FileChannel(OwnedFd fd, bool readable, bool writable)
        : fd_(std::move(fd)), readable_(readable), writable_(writable) {}
    int32_t read(uint32_t limit, std::string &out) override;
    int32_t write(std::string_view bytes) override;
    int32_t seek(int32_t offset, int32_t whence) override;
    int host_file() const override { return readable_ ? fd_.get() : -1; }

  private:
    OwnedFd fd_;
    bool readable_;
    bool writable_;
};

}  // namespace kivos::emu
