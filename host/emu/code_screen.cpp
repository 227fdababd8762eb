#include "emu/code_screen.h"

namespace kivos::emu {
namespace {

// An instruction is at most 15 bytes, so at most 14 of them prefixes.
constexpr size_t kMostPrefixes = 14;

bool prefix(uint8_t byte) {
    switch (byte) {
        case 0x26:  // segment overrides
        case 0x2e:
        case 0x36:
        case 0x3e:
        case 0x64:
        case 0x65:
        case 0x66:  // operand and address size
        case 0x67:
        case 0xf0:  // lock, repeats
        case 0xf2:
        case 0xf3:
            return true;
        default:
            return false;
    }
}

bool far_through_register(uint8_t opcode, uint8_t modrm) {
    const int operation = modrm >> 3 & 7;
    return opcode == 0xff && modrm >> 6 == 3 && (operation == 3 || operation == 5);
}

}  // namespace

std::vector<uint32_t> untranslatable_starts(uint32_t address, std::string_view code) {
    std::vector<uint32_t> starts;
    for (size_t at = 0; at + 1 < code.size(); ++at) {
        if (!far_through_register(static_cast<uint8_t>(code[at]),
                                  static_cast<uint8_t>(code[at + 1])))
            continue;
        starts.push_back(address + static_cast<uint32_t>(at));
        for (size_t first = at; first > 0 && at - first < kMostPrefixes &&
                                prefix(static_cast<uint8_t>(code[first - 1]));
             --first)
            starts.push_back(address + static_cast<uint32_t>(first - 1));
    }
    return starts;
}

}  // namespace kivos::emu
