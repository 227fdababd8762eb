#include "emu/kernel.h"

#include <kivos/syscalls.h>

#include <kivos/abi.h>

#include <chrono>
#include <string>
#include <thread>

#include "emu/process.h"
#include "emu/syscall_table.h"
#include "emu/trap_format.h"

namespace kivos::emu {
namespace {

// How an unknown call number reads in the trace: all six registers in hex.
constexpr std::string_view kUnknownArguments = "xxxxxx";

}  // namespace

// Every kivos call; an unknown number answers ENOSYS.
const Kernel::HandlerEntry Kernel::kHandlers[] = {
    {KIVOS_SYS_write, &Kernel::sys_write},
    {KIVOS_SYS__exit, &Kernel::sys_exit},
    {KIVOS_SYS_read, &Kernel::sys_read},
    {KIVOS_SYS_open, &Kernel::sys_open},
    {KIVOS_SYS_close, &Kernel::sys_close},
    {KIVOS_SYS_getkey, &Kernel::sys_getkey},
    {KIVOS_SYS_writefile, &Kernel::sys_writefile},
    {KIVOS_SYS_usleep, &Kernel::sys_usleep},
    {KIVOS_SYS_mkdir, &Kernel::sys_mkdir},
    {KIVOS_SYS_unlink, &Kernel::sys_unlink},
    {KIVOS_SYS_rmdir, &Kernel::sys_rmdir},
    {KIVOS_SYS_getcwd, &Kernel::sys_getcwd},
    {KIVOS_SYS_kivfs_stream_begin, &Kernel::sys_stream_begin},
    {KIVOS_SYS_kivfs_stream_write, &Kernel::sys_stream_write},
    {KIVOS_SYS_kivfs_stream_end, &Kernel::sys_stream_end},
    {KIVOS_SYS_chdir, &Kernel::sys_chdir},
    {KIVOS_SYS_mmap, &Kernel::sys_mmap},
    {KIVOS_SYS_munmap, &Kernel::sys_munmap},
    {KIVOS_SYS_lseek, &Kernel::sys_lseek},
    {KIVOS_SYS_pipe, &Kernel::sys_pipe},
    {KIVOS_SYS_mkfifo, &Kernel::sys_mkfifo},
    {KIVOS_SYS_dup, &Kernel::sys_dup},
    {KIVOS_SYS_dup2, &Kernel::sys_dup2},
    {KIVOS_SYS_fd_set_inherit, &Kernel::sys_fd_set_inherit},
    {KIVOS_SYS_fd_set_stdio, &Kernel::sys_fd_set_stdio},
    {KIVOS_SYS_fd_set_nonblock, &Kernel::sys_fd_set_nonblock},
    {KIVOS_SYS_spawn, &Kernel::sys_spawn},
    {KIVOS_SYS_waitpid, &Kernel::sys_waitpid},
    {KIVOS_SYS_spawn_ex, &Kernel::sys_spawn_ex},
};

Kernel::Kernel(KernelOptions options)
    : options_(std::move(options)),
      root_(options_.root),
      console_reader_(std::make_shared<ConsoleReader>(input_)),
      console_writer_(std::make_shared<ConsoleWriter>(console_)) {}

DescriptorTable Kernel::console_descriptors() const {
    DescriptorTable table;
    table.place(0, {console_reader_});
    table.place(1, {console_writer_});
    return table;
}

TrapOutcome Kernel::trap(const TrapFrame &frame, Process &process) {
    exit_status_.reset();
    const std::optional<int32_t> injected = faults_.on_call(frame.number);
    const int32_t result = injected ? *injected : dispatch(frame, process);
    if (result == kWouldBlock) {
        // Made again when the process goes on: counted and traced then.
        faults_.retract(frame.number);
        return {0, std::nullopt, true};
    }

    const SyscallInfo *call = find_syscall(frame.number);
    trace_.count(call);
    process.count_call(call);
    if (trace_.wants_records()) record(frame, call, result, process);
    return {result, exit_status_};
}

void Kernel::record(const TrapFrame &frame, const SyscallInfo *call, int32_t result,
                    const Process &process) {
    const std::string name =
        call ? std::string(call->name) : "syscall_" + std::to_string(frame.number);
    const bool returned = !exit_status_;
    std::string line =
        format_trap(name, call ? call->arguments : kUnknownArguments, frame.args,
                    returned ? std::optional(result) : std::nullopt, process.memory());
    trace_.add({process.pid(), frame.number, name, frame.args, result, returned, std::move(line)});
}

int32_t Kernel::dispatch(const TrapFrame &frame, Process &process) {
    for (const HandlerEntry &entry : kHandlers)
        if (entry.number == frame.number) return (this->*entry.handler)(frame, process);
    return -KIVOS_ENOSYS;
}

int32_t Kernel::sys_exit(const TrapFrame &frame, Process &) {
    exit_status_ = static_cast<int32_t>(frame.args[0]);
    return 0;
}

int32_t Kernel::sys_usleep(const TrapFrame &frame, Process &) {
    const uint32_t microseconds = frame.args[0];
    virtual_microseconds_ += microseconds;
    if (options_.real_sleep) std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
    return 0;
}

int32_t Kernel::sys_getkey(const TrapFrame &, Process &) {
    return input_.next_byte();
}

}  // namespace kivos::emu
