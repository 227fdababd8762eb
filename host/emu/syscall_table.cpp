#include "emu/syscall_table.h"

#include <kivos/syscalls.h>

#include <array>

namespace kivos::emu {
namespace {

constexpr std::array kSyscalls = {
#define KIVOS_SYSCALL_INFO(number, name, arguments) SyscallInfo{number, #name, arguments},
    KIVOS_SYSCALLS(KIVOS_SYSCALL_INFO)
#undef KIVOS_SYSCALL_INFO
};

}  // namespace

std::span<const SyscallInfo> syscalls() {
    return kSyscalls;
}

const SyscallInfo *find_syscall(uint32_t number) {
    for (const SyscallInfo &info : kSyscalls)
        if (info.number == number) return &info;
    return nullptr;
}

}  // namespace kivos::emu
