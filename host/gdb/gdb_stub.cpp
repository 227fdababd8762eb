#include "gdb/gdb_stub.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "emu/layout.h"
#include "gdb/i386_registers.h"

namespace kivos::gdb {
namespace {

// gdb's own signal numbers, which its stop replies carry.
constexpr int kSigint = 2, kSigill = 4, kSigtrap = 5, kSigfpe = 8, kSigbus = 10, kSigsegv = 11,
              kSigxcpu = 24;
// The program is the only thread of its process.
constexpr std::string_view kThread = "thread:1;";
// How often a running program looks for gdb's interrupt, in instructions.
constexpr uint32_t kPollMask = 0xfff;
constexpr std::string_view kBadRequest = "E01", kBadAddress = "E14";
constexpr const char *kGone = "gdb went away; the program runs on";

std::string hex_of(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const char c : bytes) {
        text += kDigits[static_cast<uint8_t>(c) >> 4];
        text += kDigits[static_cast<uint8_t>(c) & 15];
    }
    return text;
}

std::optional<std::string> bytes_of(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        uint8_t byte = 0;
        const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, byte, 16);
        if (error != std::errc() || end != hex.data() + i + 2) return std::nullopt;
        bytes += static_cast<char>(byte);
    }
    return bytes;
}

std::optional<uint32_t> number_of(std::string_view hex) {
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
    if (hex.empty() || error != std::errc() || end != hex.data() + hex.size()) return std::nullopt;
    return value;
}

// "A,B" (and "A,B:rest") as two numbers.
std::optional<std::pair<uint32_t, uint32_t>> pair_of(std::string_view text) {
    const size_t comma = text.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    const auto first = number_of(text.substr(0, comma));
    const auto second = number_of(text.substr(comma + 1, text.find(':') - comma - 1));
    if (!first || !second) return std::nullopt;
    return std::pair{*first, *second};
}

std::string stop_reply(int signal, std::string_view reason = {}) {
    char head[4];
    std::snprintf(head, sizeof head, "T%02x", signal);
    return head + std::string(reason) + std::string(kThread);
}

int signal_of(const emu::RunResult &result) {
    if (result.end == emu::RunResult::End::limit) return kSigxcpu;
    if (!result.fault) return kSigsegv;
    switch (result.fault->kind) {
        case emu::Fault::Kind::invalid_instruction:
            return kSigill;
        case emu::Fault::Kind::exception:
            switch (result.fault->vector) {
                case 0:   // divide error
                case 16:  // x87 error
                case 19:  // SIMD error
                    return kSigfpe;
                case 6:
                    return kSigill;
                case 1:
                case 3:
                    return kSigtrap;
                case 12:  // stack fault
                case 17:  // alignment check
                    return kSigbus;
                default:
                    return kSigsegv;
            }
        default:
            return kSigsegv;
    }
}

// Binary data of a qXfer reply: the four bytes that frame packets are escaped.
std::string escaped(std::string_view data) {
    std::string text;
    for (const char c : data) {
        if (c == '#' || c == '$' || c == '}' || c == '*') {
            text += '}';
            text += static_cast<char>(c ^ 0x20);
        } else {
            text += c;
        }
    }
    return text;
}

}  // namespace

GdbStub::GdbStub(RemoteChannel channel, std::function<void(const std::string &)> note)
    : channel_(std::move(channel)), note_(std::move(note)) {}

bool GdbStub::on_instruction(emu::Machine &machine, uint32_t eip) {
    if (!channel_.connected()) return true;
    std::string stop;
    const bool leaving = leaving_ == eip;
    if (!leaving) leaving_.reset();
    if (!started_) {
        // gdb asks with '?' why the program stands before its first instruction.
        started_ = true;
    } else if (watch_hit_) {
        stop = *std::exchange(watch_hit_, std::nullopt);
    } else if (stepping_) {
        stop = stop_reply(kSigtrap);
    } else if (!leaving && breakpoints_.contains(eip)) {
        stop = stop_reply(kSigtrap, swbreak_ ? "swbreak:;" : "");
    } else if ((++since_poll_ & kPollMask) == 0 && channel_.interrupted()) {
        stop = stop_reply(kSigint);
    } else {
        if (!channel_.connected()) let_go(kGone);
        return true;
    }
    const Resume resume = serve(machine, stop);
    if (!channel_.connected()) let_go(kGone);
    leaving_ = eip;
    return resume != Resume::kill;
}

void GdbStub::on_access(emu::Machine &, bool write, uint32_t address, uint32_t size) {
    if (watches_.empty() || watch_hit_) return;
    for (const Watch &watch : watches_) {
        const bool kind = watch.type == '4' || watch.type == (write ? '2' : '3');
        if (!kind || address >= watch.address + uint64_t{watch.length} ||
            watch.address >= address + uint64_t{size})
            continue;
        static constexpr std::string_view kReasons[] = {"watch", "rwatch", "awatch"};
        char reason[32];
        std::snprintf(reason, sizeof reason, "%s:%x;", kReasons[watch.type - '2'].data(),
                      std::max(address, watch.address));
        watch_hit_ = stop_reply(kSigtrap, reason);
        return;
    }
}

void GdbStub::on_end(emu::Machine &machine, const emu::RunResult &result) {
    using End = emu::RunResult::End;
    if (!channel_.connected()) return;
    char reply[8];
    if (result.end == End::exited) {
        std::snprintf(reply, sizeof reply, "W%02x", static_cast<unsigned>(result.status & 0xff));
    } else if (result.end == End::fault || result.end == End::limit) {
        // gdb sees the program where it faulted; going on from there ends it.
        const int signal = signal_of(result);
        if (serve(machine, stop_reply(signal)) == Resume::kill || !channel_.connected())
            return channel_.close();
        std::snprintf(reply, sizeof reply, "X%02x", signal);
    } else {
        return channel_.close();
    }
    channel_.send(reply);
    channel_.close();
}

GdbStub::Resume GdbStub::serve(emu::Machine &machine, const std::string &stop) {
    if (!stop.empty()) {
        last_stop_ = stop;
        channel_.send(stop);
    }
    while (const std::optional<std::string> packet = channel_.receive()) {
        Resume resume = Resume::none;
        const std::optional<std::string> reply = answer(machine, *packet, resume);
        if (reply) channel_.send(*reply);
        if (resume != Resume::none) return resume;
        if (!channel_.connected()) break;
    }
    return Resume::go;
}

// Detached or disconnected, the program runs as if gdb had never come.
void GdbStub::let_go(const std::string &why) {
    channel_.close();
    breakpoints_.clear();
    watches_.clear();
    watch_hit_.reset();
    stepping_ = false;
    if (!why.empty()) note_(why);
}

std::optional<std::string> GdbStub::answer(emu::Machine &machine, std::string_view packet,
                                           Resume &resume) {
    if (packet.empty()) return "";
    const std::string_view body = packet.substr(1);
    switch (packet[0]) {
        case '\x03':
            return std::nullopt;  // the program already stands
        case '?':
            return last_stop_;
        case 'q':
            return query(packet);
        case 'Q':
            if (packet != "QStartNoAckMode") return "";
            channel_.send("OK");
            channel_.stop_acknowledging();
            return std::nullopt;
        case 'g':
            return read_registers(machine);
        case 'G':
            return write_registers(machine, body);
        case 'p':
            return read_register(machine, body);
        case 'P':
            return write_register(machine, body);
        case 'm':
            return read_memory(machine, body);
        case 'M':
            return write_memory(machine, body);
        case 'Z':
        case 'z':
            return set_point(body, packet[0] == 'Z');
        case 'c':
        case 'C':
        case 's':
        case 'S':
        case 'v':
            if (packet == "vCont?") return "vCont;c;C;s;S";
            if (packet.starts_with("vKill")) {
                resume = Resume::kill;
                return "OK";
            }
            if (packet[0] == 'v' && !packet.starts_with("vCont;")) return "";
            resume = resume_from(machine, packet);
            return resume == Resume::none ? std::optional<std::string>(kBadRequest) : std::nullopt;
        case 'k':
            resume = Resume::kill;
            return std::nullopt;
        case 'D':
            channel_.send("OK");
            let_go("");
            resume = Resume::go;
            return std::nullopt;
        case 'H':
        case 'T':
            return "OK";
        default:
            return "";
    }
}

std::string GdbStub::query(std::string_view packet) {
    if (packet.starts_with("qSupported")) {
        swbreak_ = packet.find("swbreak+") != std::string_view::npos;
        char reply[128];
        std::snprintf(reply, sizeof reply,
                      "PacketSize=%zx;qXfer:features:read+;QStartNoAckMode+;swbreak+;hwbreak+",
                      RemoteChannel::kLongestPacket);
        return reply;
    }
    constexpr std::string_view kFeatures = "qXfer:features:read:target.xml:";
    if (packet.starts_with(kFeatures)) {
        const auto range = pair_of(packet.substr(kFeatures.size()));
        if (!range) return std::string(kBadRequest);
        const std::string_view xml = i386_target_description();
        if (range->first >= xml.size()) return "l";
        const std::string_view part = xml.substr(range->first, range->second);
        std::string reply(1, range->first + part.size() < xml.size() ? 'm' : 'l');
        return reply.append(escaped(part));
    }
    if (packet.starts_with("qXfer:")) return "E00";
    if (packet == "qC") return "QC1";
    if (packet == "qfThreadInfo") return "m1";
    if (packet == "qsThreadInfo") return "l";
    // Made by the machine, not attached to: quitting gdb ends the program.
    if (packet.starts_with("qAttached")) return "0";
    if (packet.starts_with("qSymbol")) return "OK";
    return "";
}

std::string GdbStub::read_registers(const emu::Machine &machine) const {
    std::string text;
    for (size_t i = 0; i < i386_registers().size(); ++i) text += register_hex(machine, i);
    return text;
}

std::string GdbStub::read_register(const emu::Machine &machine, std::string_view number) const {
    const auto index = number_of(number);
    if (!index || *index >= i386_registers().size()) return std::string(kBadRequest);
    return register_hex(machine, *index);
}

std::string GdbStub::register_hex(const emu::Machine &machine, size_t index) const {
    const RegisterSlot &slot = i386_registers()[index];
    if (slot.bytes == 10) {
        const emu::Machine::X87Bits bits = machine.read_x87(slot.unicorn);
        return hex_of({reinterpret_cast<const char *>(bits.data()), bits.size()});
    }
    const uint32_t value = machine.read_register(slot.unicorn);
    char bytes[4];
    std::memcpy(bytes, &value, sizeof bytes);
    return hex_of({bytes, sizeof bytes});
}

std::string GdbStub::write_registers(emu::Machine &machine, std::string_view hex) {
    for (size_t i = 0; i < i386_registers().size(); ++i) {
        const size_t width = i386_registers()[i].bytes * 2u;
        if (hex.size() < width) return std::string(kBadRequest);
        const std::string reply = set_register(machine, i, hex.substr(0, width));
        if (reply != "OK") return reply;
        hex.remove_prefix(width);
    }
    return "OK";
}

std::string GdbStub::write_register(emu::Machine &machine, std::string_view assignment) {
    const size_t equals = assignment.find('=');
    const auto index = number_of(assignment.substr(0, equals));
    if (equals == std::string_view::npos || !index || *index >= i386_registers().size())
        return std::string(kBadRequest);
    return set_register(machine, *index, assignment.substr(equals + 1));
}

std::string GdbStub::set_register(emu::Machine &machine, size_t index, std::string_view hex) {
    const RegisterSlot &slot = i386_registers()[index];
    const auto bytes = bytes_of(hex);
    if (!bytes || bytes->size() != slot.bytes) return std::string(kBadRequest);
    // Unchanged registers are left alone: writing eip would restart the
    // engine there, and the segments are the machine's.
    if (register_hex(machine, index) == hex_of(*bytes)) return "OK";
    if (slot.selector) return std::string(kBadRequest);
    try {
        if (slot.bytes == 10) {
            emu::Machine::X87Bits bits;
            std::memcpy(bits.data(), bytes->data(), bits.size());
            machine.write_x87(slot.unicorn, bits);
        } else {
            uint32_t value = 0;
            std::memcpy(&value, bytes->data(), sizeof value);
            machine.write_register(slot.unicorn, value);
        }
    } catch (const std::exception &) {
        return std::string(kBadRequest);
    }
    return "OK";
}

// As much of the range as is mapped from its start: gdb takes a short answer.
std::string GdbStub::read_memory(const emu::Machine &machine, std::string_view range) const {
    const auto request = pair_of(range);
    if (!request) return std::string(kBadRequest);
    auto [address, length] = *request;
    length = std::min<uint32_t>(length, RemoteChannel::kLongestPacket / 2);
    std::string bytes, page;
    while (length != 0) {
        const uint32_t in_page = std::min<uint32_t>(
            length, emu::layout::kPageSize - (address & (emu::layout::kPageSize - 1)));
        if (machine.memory().read(address, in_page, page) != 0) break;
        bytes += page;
        address += in_page;
        length -= in_page;
    }
    return bytes.empty() && request->second != 0 ? std::string(kBadAddress) : hex_of(bytes);
}

std::string GdbStub::write_memory(const emu::Machine &machine, std::string_view request) {
    const auto range = pair_of(request);
    const size_t colon = request.find(':');
    if (!range || colon == std::string_view::npos) return std::string(kBadRequest);
    const auto bytes = bytes_of(request.substr(colon + 1));
    if (!bytes || bytes->size() != range->second) return std::string(kBadRequest);
    return machine.memory().patch(range->first, *bytes) == 0 ? "OK" : std::string(kBadAddress);
}

// Z0/Z1 breakpoints (a hook, not an int3 in the image), Z2 to Z4 watchpoints.
std::string GdbStub::set_point(std::string_view request, bool insert) {
    const auto place = request.size() > 2 ? pair_of(request.substr(2)) : std::nullopt;
    if (!place || request[1] != ',') return std::string(kBadRequest);
    const auto [address, length] = *place;
    switch (request[0]) {
        case '0':
        case '1':
            if (insert)
                breakpoints_.insert(address);
            else
                breakpoints_.erase(address);
            return "OK";
        case '2':
        case '3':
        case '4': {
            if (length == 0) return std::string(kBadRequest);
            const Watch watch{request[0], address, length};
            const auto same = [&watch](const Watch &other) {
                return other.type == watch.type && other.address == watch.address &&
                       other.length == watch.length;
            };
            std::erase_if(watches_, same);
            if (insert) watches_.push_back(watch);
            return "OK";
        }
        default:
            return "";
    }
}

// c, C, s and S (with an optional address to go on from) and vCont, whose
// first action is the program's: it is the only thread.
GdbStub::Resume GdbStub::resume_from(emu::Machine &machine, std::string_view packet) {
    char action = packet[0];
    std::string_view rest = packet.substr(1);
    if (action == 'v') {
        rest = packet.substr(std::string_view("vCont;").size());
        if (rest.empty()) return Resume::none;
        action = rest[0];
        rest = {};
    } else if (action == 'C' || action == 'S') {
        // The signal gdb passes on is the one the program stopped with, or none.
        rest = rest.substr(std::min(rest.find(';'), rest.size()));
        if (!rest.empty()) rest.remove_prefix(1);
    }
    if (action != 'c' && action != 'C' && action != 's' && action != 'S') return Resume::none;
    if (!rest.empty()) {
        const auto address = number_of(rest);
        if (!address) return Resume::none;
        machine.write_register(UC_X86_REG_EIP, *address);
    }
    stepping_ = action == 's' || action == 'S';
    return stepping_ ? Resume::step : Resume::go;
}

}  // namespace kivos::gdb
