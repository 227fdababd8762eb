// The registers of gdb's i386 target description (general registers,
// segments, the x87 unit), in the order its g packet carries them and p and
// P number them, and the description itself.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kivos::gdb {

struct RegisterSlot {
    std::string_view name;
    int unicorn;    // UC_X86_REG_*
    uint8_t bytes;  // 4, or 10 for an x87 data register
    bool selector;  // a segment register: the machine keeps it as it is
};

std::span<const RegisterSlot> i386_registers();
std::string_view i386_target_description();

}  // namespace kivos::gdb
