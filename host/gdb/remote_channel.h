// The GDB remote serial protocol's framing over one TCP connection:
// $payload#checksum packets, + and - acknowledgements (until gdb turns them
// off), and the lone 0x03 byte with which gdb interrupts a running program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "emu/owned_fd.h"

namespace kivos::gdb {

class RemoteChannel {
  public:
    // Listens on 127.0.0.1:`port` (0: any free port) and waits for gdb to connect.
    // `on_listening` hears the port before the wait. Throws std::runtime_error.
    template <typename Listening>
    static RemoteChannel accept_one(uint16_t port, Listening on_listening) {
        emu::OwnedFd listener = listen_on(port);
        on_listening(bound_port(listener));
        return RemoteChannel(accept_on(listener));
    }

    // The next packet's payload, acknowledged; "\x03" for an interrupt; none
    // once the connection is gone. A packet with a bad checksum is refused
    // (gdb sends it again), one longer than kLongestPacket arrives empty.
    std::optional<std::string> receive();
    // Sends a packet; a failure closes the connection.
    void send(std::string_view payload);
    // Whether an interrupt has arrived, without waiting for one.
    bool interrupted();
    void stop_acknowledging() { acknowledging_ = false; }
    bool connected() const { return fd_.get() >= 0; }
    void close() { fd_ = emu::OwnedFd(); }

    static constexpr size_t kLongestPacket = 0x4000;

  private:
    explicit RemoteChannel(emu::OwnedFd fd) : fd_(std::move(fd)) {}
    static emu::OwnedFd listen_on(uint16_t port);
    static uint16_t bound_port(const emu::OwnedFd &listener);
    static emu::OwnedFd accept_on(const emu::OwnedFd &listener);

    // The next byte from gdb, waiting for it; none once the connection is gone.
    std::optional<char> next_byte();
    bool fill(int timeout_ms);
    void write_all(std::string_view bytes);

    emu::OwnedFd fd_;
    std::string pending_;  // bytes received and not yet taken
    size_t taken_ = 0;
    bool acknowledging_ = true;
    std::string last_sent_;  // sent again when gdb answers '-'
};

}  // namespace kivos::gdb
