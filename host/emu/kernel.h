// The kivos kernel of the machine: answers each trap with the call of its
// number, records it in the trace, and applies the faults a test injected.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "emu/console.h"
#include "emu/descriptors.h"
#include "emu/fault_injection.h"
#include "emu/guest_memory.h"
#include "emu/sandbox.h"
#include "emu/syscall_table.h"
#include "emu/trace.h"

namespace kivos::emu {

struct KernelOptions {
    std::filesystem::path root = ".";
    // usleep waits for real instead of only advancing the virtual clock.
    bool real_sleep = false;
};

// eax and ebx..ebp at the trap.
struct TrapFrame {
    uint32_t number;
    std::array<uint32_t, 6> args;
};

struct TrapOutcome {
    int32_t result;                      // for eax
    std::optional<int32_t> exit_status;  // set when the guest called _exit
};

class Kernel {
  public:
    explicit Kernel(KernelOptions options);

    TrapOutcome trap(const TrapFrame &frame, const GuestMemory &memory);

    ConsoleOutput &console() { return console_; }
    ConsoleInput &input() { return input_; }
    FaultInjection &faults() { return faults_; }
    Trace &trace() { return trace_; }
    uint64_t virtual_microseconds() const { return virtual_microseconds_; }

    using Handler = int32_t (Kernel::*)(const TrapFrame &, const GuestMemory &);

  private:
    // A path names at most this many bytes before its NUL.
    static constexpr uint32_t kLongestPath = 4095;
    // A path of the guest, or the error its reading gave.
    static int32_t read_path(const GuestMemory &memory, uint32_t address, std::string &path);

    int32_t dispatch(const TrapFrame &frame, const GuestMemory &memory);
    // The trap's name and line for the trace.
    void record(const TrapFrame &frame, const SyscallInfo *call, int32_t result,
                const GuestMemory &memory);

    // Process and console calls (kernel.cpp).
    int32_t sys_exit(const TrapFrame &frame, const GuestMemory &memory);
    int32_t sys_usleep(const TrapFrame &frame, const GuestMemory &memory);
    int32_t sys_getkey(const TrapFrame &frame, const GuestMemory &memory);
    // Descriptor calls (kernel_io.cpp).
    int32_t sys_write(const TrapFrame &frame, const GuestMemory &memory);
    int32_t sys_read(const TrapFrame &frame, const GuestMemory &memory);
    int32_t sys_open(const TrapFrame &frame, const GuestMemory &memory);
    int32_t sys_close(const TrapFrame &frame, const GuestMemory &memory);
    int32_t sys_lseek(const TrapFrame &frame, const GuestMemory &memory);
    // Path calls (kernel_paths.cpp).
    int32_t sys_writefile(const TrapFrame &frame, const GuestMemory &memory);
    int32_t sys_getcwd(const TrapFrame &frame, const GuestMemory &memory);
    int32_t sys_chdir(const TrapFrame &frame, const GuestMemory &memory);
    int32_t sys_mkdir(const TrapFrame &frame, const GuestMemory &memory);
    int32_t sys_unlink(const TrapFrame &frame, const GuestMemory &memory);
    int32_t sys_rmdir(const TrapFrame &frame, const GuestMemory &memory);

    struct HandlerEntry {
        uint32_t number;
        Handler handler;
    };
    // Its size is that of its definition.
    static const HandlerEntry kHandlers[];

    KernelOptions options_;
    ConsoleOutput console_;
    ConsoleInput input_;
    Sandbox sandbox_;
    DescriptorTable descriptors_;
    FaultInjection faults_;
    Trace trace_;
    uint64_t virtual_microseconds_ = 0;
    std::optional<int32_t> exit_status_;
};

}  // namespace kivos::emu
