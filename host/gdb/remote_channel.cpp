#include "gdb/remote_channel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace kivos::gdb {
namespace {

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

uint8_t checksum(std::string_view payload) {
    uint8_t sum = 0;
    for (const char c : payload) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    return sum;
}

}  // namespace

emu::OwnedFd RemoteChannel::listen_on(uint16_t port) {
    emu::OwnedFd listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (listener.get() < 0) fail("opening a socket for gdb");
    const int yes = 1;
    setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    // Only this machine's own gdb may drive the guest.
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        fail("listening for gdb on 127.0.0.1:" + std::to_string(port));
    if (listen(listener.get(), 1) != 0) fail("listening for gdb");
    return listener;
}

uint16_t RemoteChannel::bound_port(const emu::OwnedFd &listener) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(listener.get(), reinterpret_cast<sockaddr *>(&address), &size) != 0)
        fail("asking the port for gdb");
    return ntohs(address.sin_port);
}

emu::OwnedFd RemoteChannel::accept_on(const emu::OwnedFd &listener) {
    int fd;
    while ((fd = accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC)) < 0)
        if (errno != EINTR) fail("waiting for gdb");
    // Packets are small and each waits for an answer.
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return emu::OwnedFd(fd);
}

// Waits up to `timeout_ms` (-1: for ever) for more bytes; false when none came.
bool RemoteChannel::fill(int timeout_ms) {
    if (!connected()) return false;
    pollfd ready{fd_.get(), POLLIN, 0};
    int events;
    while ((events = poll(&ready, 1, timeout_ms)) < 0)
        if (errno != EINTR) break;
    if (events == 0) return false;
    char chunk[4096];
    ssize_t got;
    while ((got = recv(fd_.get(), chunk, sizeof chunk, 0)) < 0)
        if (errno != EINTR) break;
    if (got <= 0) {
        close();
        return false;
    }
    pending_.erase(0, taken_);
    taken_ = 0;
    pending_.append(chunk, static_cast<size_t>(got));
    return true;
}

std::optional<char> RemoteChannel::next_byte() {
    while (taken_ == pending_.size())
        if (!fill(-1) && !connected()) return std::nullopt;
    return pending_[taken_++];
}

bool RemoteChannel::interrupted() {
    while (fill(0)) {
    }
    // Running, gdb sends nothing else; whatever came before the interrupt is dropped.
    const size_t at = pending_.find('\x03', taken_);
    if (at != std::string::npos) {
        taken_ = at + 1;
        return true;
    }
    return false;
}

std::optional<std::string> RemoteChannel::receive() {
    while (true) {
        std::optional<char> byte = next_byte();
        if (!byte) return std::nullopt;
        if (*byte == '\x03') return std::string(1, '\x03');
        if (*byte == '-' && !last_sent_.empty()) write_all(last_sent_);
        if (*byte != '$') continue;

        std::string payload;
        bool overlong = false;
        while ((byte = next_byte()) && *byte != '#') {
            if (payload.size() == kLongestPacket) overlong = true;
            if (!overlong) payload += *byte;
        }
        if (!byte) return std::nullopt;
        const std::optional<char> high = next_byte();
        const std::optional<char> low = next_byte();
        if (!high || !low) return std::nullopt;
        const int sum = hex_digit(*high) * 16 + hex_digit(*low);
        if (hex_digit(*high) < 0 || hex_digit(*low) < 0 ||
            (!overlong && sum != checksum(payload))) {
            if (acknowledging_) write_all("-");
            continue;
        }
        if (acknowledging_) write_all("+");
        return overlong ? std::string() : payload;
    }
}

void RemoteChannel::send(std::string_view payload) {
    char sum[4];
    std::snprintf(sum, sizeof sum, "%02x", checksum(payload));
    last_sent_.assign(1, '$').append(payload).append(1, '#').append(sum);
    write_all(last_sent_);
}

void RemoteChannel::write_all(std::string_view bytes) {
    while (connected() && !bytes.empty()) {
        const ssize_t put = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            close();
            return;
        }
        bytes.remove_prefix(static_cast<size_t>(put));
    }
}

}  // namespace kivos::gdb
