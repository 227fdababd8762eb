// The kivos kernel of the machine: answers each trap of a process with the
// call of its number, records it in the trace, and applies the faults a test
// injected. What processes share lives here (the console, named pipes, the
// clock); what each owns lives in its Process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "emu/channel.h"
#include "emu/console.h"
#include "emu/descriptors.h"
#include "emu/fault_injection.h"
#include "emu/guest_memory.h"
#include "emu/pipe.h"
#include "emu/sandbox.h"
#include "emu/syscall_table.h"
#include "emu/trace.h"
#include "emu/trap.h"

namespace kivos::emu {

class Process;
class Scheduler;
struct ChildDescriptors;

struct KernelOptions {
    std::filesystem::path root = ".";
    // usleep waits for real instead of only advancing the virtual clock.
    bool real_sleep = false;
};

class Kernel {
  public:
    // Throws MachineError when the root is not a folder.
    explicit Kernel(KernelOptions options);

    TrapOutcome trap(const TrapFrame &frame, Process &process);

    ConsoleOutput &console() { return console_; }
    ConsoleInput &input() { return input_; }
    FaultInjection &faults() { return faults_; }
    Trace &trace() { return trace_; }
    uint64_t virtual_microseconds() const { return virtual_microseconds_; }

    // What the first process starts with: the root as its current folder,
    // the console's input on descriptor 0 and its output on 1.
    const Sandbox &root() const { return root_; }
    DescriptorTable console_descriptors() const;

    // Counts every change that may let a waiting process go on.
    uint64_t changes() const { return changes_; }
    void note_change() { ++changes_; }
    // The scheduler running this kernel's processes; without one, spawn
    // answers -38 and no process has children.
    void attach(Scheduler *scheduler) { scheduler_ = scheduler; }

    using Handler = int32_t (Kernel::*)(const TrapFrame &, Process &);

  private:
    // A path names at most this many bytes before its NUL.
    static constexpr uint32_t kLongestPath = 4095;
    // A path of the guest, or the error its reading gave.
    static int32_t read_path(const GuestMemory &memory, uint32_t address, std::string &path);

    int32_t dispatch(const TrapFrame &frame, Process &process);
    // The trap's name and line for the trace.
    void record(const TrapFrame &frame, const SyscallInfo *call, int32_t result,
                const Process &process);

    // Process, time and console calls (kernel.cpp).
    int32_t sys_exit(const TrapFrame &frame, Process &process);
    int32_t sys_usleep(const TrapFrame &frame, Process &process);
    int32_t sys_getkey(const TrapFrame &frame, Process &process);
    // Descriptor calls (kernel_io.cpp).
    int32_t sys_write(const TrapFrame &frame, Process &process);
    int32_t sys_read(const TrapFrame &frame, Process &process);
    int32_t sys_open(const TrapFrame &frame, Process &process);
    int32_t sys_close(const TrapFrame &frame, Process &process);
    int32_t sys_lseek(const TrapFrame &frame, Process &process);
    // Pipes and copies of descriptors (kernel_pipes.cpp).
    int32_t sys_pipe(const TrapFrame &frame, Process &process);
    int32_t sys_mkfifo(const TrapFrame &frame, Process &process);
    int32_t sys_dup(const TrapFrame &frame, Process &process);
    int32_t sys_dup2(const TrapFrame &frame, Process &process);
    int32_t sys_fd_set_nonblock(const TrapFrame &frame, Process &process);
    // Path calls (kernel_paths.cpp).
    int32_t sys_writefile(const TrapFrame &frame, Process &process);
    int32_t sys_getcwd(const TrapFrame &frame, Process &process);
    int32_t sys_chdir(const TrapFrame &frame, Process &process);
    int32_t sys_mkdir(const TrapFrame &frame, Process &process);
    int32_t sys_unlink(const TrapFrame &frame, Process &process);
    int32_t sys_rmdir(const TrapFrame &frame, Process &process);
    // Streamed files (kernel_streams.cpp).
    int32_t sys_stream_begin(const TrapFrame &frame, Process &process);
    int32_t sys_stream_write(const TrapFrame &frame, Process &process);
    int32_t sys_stream_end(const TrapFrame &frame, Process &process);
    // Memory maps (kernel_memory.cpp).
    int32_t sys_mmap(const TrapFrame &frame, Process &process);
    int32_t sys_munmap(const TrapFrame &frame, Process &process);
    // Children (kernel_spawn.cpp).
    int32_t sys_spawn(const TrapFrame &frame, Process &process);
    int32_t sys_spawn_ex(const TrapFrame &frame, Process &process);
    int32_t sys_waitpid(const TrapFrame &frame, Process &process);
    int32_t sys_fd_set_stdio(const TrapFrame &frame, Process &process);
    int32_t sys_fd_set_inherit(const TrapFrame &frame, Process &process);

    struct SpawnRequest;
    static ChildDescriptors spawn_defaults(Process &process);
    int32_t spawn(const SpawnRequest &request, Process &process);
    // The named pipe at `path` (as the process names it), or nullptr.
    std::shared_ptr<Pipe> named_pipe(const std::string &path, const Process &process) const;
    std::string pipe_name(const std::string &path, const Process &process) const;

    struct HandlerEntry {
        uint32_t number;
        Handler handler;
    };
    // Its size is that of its definition.
    static const HandlerEntry kHandlers[];

    KernelOptions options_;
    ConsoleOutput console_;
    ConsoleInput input_;
    Sandbox root_;
    std::shared_ptr<Channel> console_reader_;
    std::shared_ptr<Channel> console_writer_;
    uint64_t changes_ = 0;
    // Named pipes by their absolute path inside the root, at most kMostNamedPipes.
    static constexpr size_t kMostNamedPipes = 64;
    std::map<std::string, std::shared_ptr<Pipe>> named_pipes_;
    FaultInjection faults_;
    Trace trace_;
    Scheduler *scheduler_ = nullptr;
    uint64_t virtual_microseconds_ = 0;
    std::optional<int32_t> exit_status_;
};

}  // namespace kivos::emu
