// Runs the processes of one machine, interleaved the same way every time:
// round robin in the order of their ids, each until it must wait for
// something or has run kQuantum instructions. The run ends when no process
// can go on: normally because every one has ended, else in a deadlock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emu/descriptors.h"
#include "emu/elf_image.h"
#include "emu/kernel.h"
#include "emu/machine.h"
#include "emu/process.h"
#include "emu/run_result.h"
#include "emu/sandbox.h"

namespace kivos::emu {

struct SchedulerOptions {
    // For every process; instruction counting is turned on for all of them.
    MachineOptions machine;
    // Instructions of all processes together before the run stops (0: no limit).
    uint64_t instruction_limit = 0;
    // Keep each process's counts after it is gone, for summaries().
    bool keep_summaries = false;
    // A debugger, coverage: they watch the first process, the command that was run.
    std::vector<ExecutionObserver *> first_process_observers = {};
};

class Scheduler {
  public:
    // Instructions a process runs before the next one's turn.
    static constexpr uint64_t kQuantum = 100000;
    // Processes at once, counting those that ended and wait for their parent.
    static constexpr size_t kMostProcesses = 16;

    Scheduler(Kernel &kernel, SchedulerOptions options);
    ~Scheduler();
    Scheduler(const Scheduler &) = delete;
    Scheduler &operator=(const Scheduler &) = delete;

    // Runs `image` as process 1 with `argv`, and every process it starts.
    // The result is process 1's end, or the limit, or a deadlock.
    RunResult run(const ElfImage &image, const std::vector<std::string> &argv);

    // For the kernel: a child of `parent`, ready to run; its id, or -11 when
    // there are kMostProcesses already. Throws MachineError.
    int32_t spawn(const Process &parent, const ElfImage &image,
                  const std::vector<std::string> &argv, Sandbox sandbox,
                  DescriptorTable descriptors);
    struct Ended {
        int32_t pid;     // 0 while all run, -10 when `parent` has no such child
        int32_t status;  // its wait status
    };
    // The child of `parent` that ended first among those `pid` names (-1: any).
    Ended ended_child(uint32_t parent, int32_t pid) const;
    // Forgets an ended child whose status its parent has taken.
    void reap(uint32_t pid);

    // One-line reports of processes other than the first that faulted.
    void on_report(std::function<void(const std::string &)> listener) {
        report_ = std::move(listener);
    }
    // Explains a fault in full (registers, call stack) while the faulted
    // process's machine still stands as it faulted; the text replaces the
    // one-line report. `image` is the process's name: the image it was started as.
    using FaultExplainer = std::function<std::string(
        const RunResult &result, const Machine &machine, const std::string &image)>;
    void on_fault(FaultExplainer explain) { explain_ = std::move(explain); }
    // True once a second process has started.
    bool several() const { return next_pid_ > 2; }
    uint64_t instructions() const { return instructions_; }

    struct Summary {
        uint32_t pid;
        std::string name;
        uint64_t instructions;
        CallCounts calls;
    };
    // Every process of the run in the order of ids (with keep_summaries).
    std::vector<Summary> summaries() const;

  private:
    struct Task {
        uint32_t pid;
        uint32_t parent;  // 0: none, or gone
        std::string name;
        std::unique_ptr<Process> process;  // until it ends
        bool waiting = false;
        uint64_t waiting_since = 0;  // the kernel's change count then
        int32_t wait_status = 0;
        uint64_t ended_as = 0;  // 1 for the first process to end, and so on; 0 running
        uint64_t instructions = 0;
    };

    Task &add(uint32_t parent, std::string name, const ElfImage &image,
              const std::vector<std::string> &argv, Sandbox sandbox, DescriptorTable descriptors);
    Task *next_ready(uint32_t after);
    std::optional<RunResult> run_slice(Task &task);
    void finish(Task &task, RunResult result);
    RunResult told_to_first(RunResult end);
    std::string label(const Task &task) const;
    RunResult deadlock() const;
    RunResult limit_reached() const;

    Kernel &kernel_;
    SchedulerOptions options_;
    std::map<uint32_t, Task> tasks_;
    std::vector<Summary> gone_;
    std::optional<RunResult> first_end_;
    std::function<void(const std::string &)> report_;
    FaultExplainer explain_;
    uint32_t next_pid_ = 1;
    uint64_t ended_ = 0;
    uint64_t instructions_ = 0;
};

}  // namespace kivos::emu
