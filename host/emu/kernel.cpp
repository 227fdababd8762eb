#include "emu/kernel.h"

#include <kivos/abi.h>

#include <chrono>
#include <string>
#include <thread>

#include "emu/syscall_table.h"
#include "emu/trap_format.h"

namespace kivos::emu {
namespace {

// How an unknown call number reads in the trace: all six registers in hex.
constexpr std::string_view kUnknownArguments = "xxxxxx";

}  // namespace

// The calls this kernel carries out; every other call answers ENOSYS.
const Kernel::HandlerEntry Kernel::kHandlers[] = {
    {KIVOS_SYS_write, &Kernel::sys_write},         {KIVOS_SYS__exit, &Kernel::sys_exit},
    {KIVOS_SYS_read, &Kernel::sys_read},           {KIVOS_SYS_open, &Kernel::sys_open},
    {KIVOS_SYS_close, &Kernel::sys_close},         {KIVOS_SYS_getkey, &Kernel::sys_getkey},
    {KIVOS_SYS_writefile, &Kernel::sys_writefile}, {KIVOS_SYS_usleep, &Kernel::sys_usleep},
    {KIVOS_SYS_mkdir, &Kernel::sys_mkdir},         {KIVOS_SYS_unlink, &Kernel::sys_unlink},
    {KIVOS_SYS_rmdir, &Kernel::sys_rmdir},         {KIVOS_SYS_getcwd, &Kernel::sys_getcwd},
    {KIVOS_SYS_chdir, &Kernel::sys_chdir},         {KIVOS_SYS_lseek, &Kernel::sys_lseek},
};

Kernel::Kernel(KernelOptions options) : options_(std::move(options)), sandbox_(options_.root) {}

TrapOutcome Kernel::trap(const TrapFrame &frame, const GuestMemory &memory) {
    exit_status_.reset();
    const std::optional<int32_t> injected = faults_.on_call(frame.number);
    const int32_t result = injected ? *injected : dispatch(frame, memory);
    const SyscallInfo *call = find_syscall(frame.number);
    trace_.count(call);
    if (trace_.wants_records()) record(frame, call, result, memory);
    return {result, exit_status_};
}

void Kernel::record(const TrapFrame &frame, const SyscallInfo *call, int32_t result,
                    const GuestMemory &memory) {
    const std::string name =
        call ? std::string(call->name) : "syscall_" + std::to_string(frame.number);
    const bool returned = !exit_status_;
    std::string line = format_trap(name, call ? call->arguments : kUnknownArguments, frame.args,
                                   returned ? std::optional(result) : std::nullopt, memory);
    trace_.add({frame.number, name, frame.args, result, returned, std::move(line)});
}

int32_t Kernel::dispatch(const TrapFrame &frame, const GuestMemory &memory) {
    for (const HandlerEntry &entry : kHandlers)
        if (entry.number == frame.number) return (this->*entry.handler)(frame, memory);
    return -KIVOS_ENOSYS;
}

int32_t Kernel::sys_exit(const TrapFrame &frame, const GuestMemory &) {
    exit_status_ = static_cast<int32_t>(frame.args[0]);
    return 0;
}

int32_t Kernel::sys_usleep(const TrapFrame &frame, const GuestMemory &) {
    const uint32_t microseconds = frame.args[0];
    virtual_microseconds_ += microseconds;
    if (options_.real_sleep) std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
    return 0;
}

int32_t Kernel::sys_getkey(const TrapFrame &, const GuestMemory &) {
    return input_.next_byte();
}

}  // namespace kivos::emu
