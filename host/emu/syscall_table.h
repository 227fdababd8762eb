// Names and argument kinds of the kivos calls, taken from the shared list.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kivos::emu {

struct SyscallInfo {
    uint32_t number;
    std::string_view name;
    // One letter per argument register, ebx first: d signed, u unsigned,
    // x hexadecimal, p address, s guest string, w and r buffers the call reads
    // or fills (see kivos/syscalls.h).
    std::string_view arguments;
};

// Every kivos call, in the order of the list.
std::span<const SyscallInfo> syscalls();
// nullptr for a number that is not a kivos call.
const SyscallInfo *find_syscall(uint32_t number);

}  // namespace kivos::emu
