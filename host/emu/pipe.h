// Pipes of the machine, anonymous or named: bytes written at one end wait in
// a bounded buffer until the other end reads them. They live in the machine
// only, never as host pipes or FIFOs, so no guest can block the host on one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "emu/channel.h"

namespace kivos::emu {

class Pipe {
  public:
    static constexpr uint32_t kCapacity = 64u << 10;

    // `changes` counts every change a waiting process may care for.
    explicit Pipe(uint64_t &changes) : changes_(changes) {}
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;

    // The ends count themselves in and out, so that the last writer's close
    // is the end of input and the last reader's makes writing pointless.
    std::shared_ptr<Channel> open_reader(const std::shared_ptr<Pipe> &self);
    std::shared_ptr<Channel> open_writer(const std::shared_ptr<Pipe> &self);

    // What a read end answers: waiting bytes, 0 once every writer is gone
    // (and one was there), else kWouldBlock.
    int32_t take(uint32_t limit, std::string &out);
    // What a write end answers: as much as fits, -32 once every reader is
    // gone (and one was there), kWouldBlock while the buffer is full.
    int32_t put(std::string_view bytes);

  private:
    friend class PipeEnd;
    void count(bool reader, int delta);

    uint64_t &changes_;
    std::string buffer_;
    uint32_t readers_ = 0;
    uint32_t writers_ = 0;
    bool had_reader_ = false;
    bool had_writer_ = false;
};

// A new anonymous pipe: its read end and its write end.
std::pair<std::shared_ptr<Channel>, std::shared_ptr<Channel>> make_pipe(uint64_t &changes);

}  // namespace kivos::emu
