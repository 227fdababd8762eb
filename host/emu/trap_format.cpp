#include "emu/trap_format.h"

#include <kivos/abi.h>

#include <algorithm>
#include <cstdio>

namespace kivos::emu {
namespace {

// Strings and buffers longer than this are cut and marked with "..." after the quote.
constexpr uint32_t kShownBytes = 32;
constexpr uint32_t kStringLimit = 4096;

std::string printf_string(const char *format, uint32_t value) {
    char text[24];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string address(uint32_t value) {
    return value == 0 ? "NULL" : printf_string("0x%x", value);
}

std::string escaped(std::string_view bytes, bool cut) {
    std::string out = "\"";
    for (const char c : bytes) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (c >= 0x20 && c < 0x7f)
                    out += c;
                else
                    out += printf_string("\\x%02x", static_cast<uint8_t>(c));
        }
    }
    out += '"';
    if (cut) out += "...";
    return out;
}

std::string quoted_string(uint32_t at, const GuestMemory &memory) {
    std::string text;
    const int32_t error = memory.read_string(at, kStringLimit, text);
    if (error == -KIVOS_EFAULT || at == 0) return address(at);
    const bool cut = error != 0 || text.size() > kShownBytes;
    return escaped(std::string_view(text).substr(0, kShownBytes), cut);
}

// `size` bytes at `at`; a buffer the guest cannot read shows as its address.
std::string quoted_buffer(uint32_t at, uint32_t size, const GuestMemory &memory) {
    std::string bytes;
    if (memory.read(at, std::min(size, kShownBytes), bytes) != 0) return address(at);
    return escaped(bytes, size > kShownBytes);
}

std::string argument(char kind, uint32_t value, const GuestMemory &memory) {
    switch (kind) {
        case 'd':
            return std::to_string(static_cast<int32_t>(value));
        case 'u':
            return std::to_string(value);
        case 'p':
            return address(value);
        case 's':
            return quoted_string(value, memory);
        default:
            return printf_string("0x%x", value);
    }
}

// A buffer reads as the bytes the call takes (counted by the next argument)
// or, once it has answered, the bytes it filled in (counted by its answer).
std::string buffer_argument(char kind, size_t index, const std::array<uint32_t, 6> &args,
                            std::optional<int32_t> result, const GuestMemory &memory) {
    if (kind == 'w')
        return quoted_buffer(args[index], index + 1 < args.size() ? args[index + 1] : 0, memory);
    if (!result || *result < 0) return address(args[index]);
    return quoted_buffer(args[index], static_cast<uint32_t>(*result), memory);
}

// A call whose answer is an address still fails with a negated error number, as every call does.
std::string result_text(char kind, int32_t result, const GuestMemory &memory) {
    if (kind == 'p' && (result >= 0 || result < -KIVOS_LAST_ERROR)) {
        return argument(kind, static_cast<uint32_t>(result), memory);
    }
    return std::to_string(result);
}

}  // namespace

std::string format_trap(std::string_view name, std::string_view kinds,
                        const std::array<uint32_t, 6> &args, std::optional<int32_t> result,
                        const GuestMemory &memory) {
    // "pu=p": the arguments' kinds, then the answer's after '=' (signed decimal by default).
    const size_t equals = kinds.find('=');
    const char result_kind = equals == std::string_view::npos ? 'd' : kinds[equals + 1];
    kinds = kinds.substr(0, equals);
    std::string line(name);
    line += '(';
    for (size_t i = 0; i < kinds.size() && i < args.size(); ++i) {
        if (i != 0) line += ", ";
        const char kind = kinds[i];
        line += kind == 'w' || kind == 'r' ? buffer_argument(kind, i, args, result, memory)
                                           : argument(kind, args[i], memory);
    }
    line += ')';
    if (result) line += " = " + result_text(result_kind, *result, memory);
    return line;
}

}  // namespace kivos::emu
