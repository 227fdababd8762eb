#include "emu/scheduler.h"

#include <kivos/abi.h>

#include <algorithm>

#include "emu/fault_report.h"
#include "emu/syscall_table.h"

namespace kivos::emu {
namespace {

MachineOptions counting(MachineOptions options) {
    options.count_instructions = true;
    options.instruction_limit = 0;
    return options;
}

}  // namespace

Scheduler::Scheduler(Kernel &kernel, SchedulerOptions options)
    : kernel_(kernel), options_(std::move(options)) {
    options_.machine = counting(options_.machine);
    kernel_.attach(this);
}

Scheduler::~Scheduler() {
    // The processes' descriptors go first: closing a pipe end tells the kernel.
    tasks_.clear();
    kernel_.attach(nullptr);
}

Scheduler::Task &Scheduler::add(uint32_t parent, std::string name, const ElfImage &image,
                                const std::vector<std::string> &argv, Sandbox sandbox,
                                DescriptorTable descriptors) {
    const uint32_t pid = next_pid_;
    MachineOptions machine = options_.machine;
    if (pid == 1) machine.observers = options_.first_process_observers;
    auto process = std::make_unique<Process>(kernel_, pid, image, machine, std::move(sandbox),
                                             std::move(descriptors));
    process->machine().prepare_program(argv);
    ++next_pid_;
    Task &task = tasks_[pid];
    task.pid = pid;
    task.parent = parent;
    task.name = std::move(name);
    task.process = std::move(process);
    return task;
}

RunResult Scheduler::run(const ElfImage &image, const std::vector<std::string> &argv) {
    add(0, argv.empty() ? std::string() : argv.front(), image, argv, kernel_.root(),
        kernel_.console_descriptors());
    uint32_t last = 0;
    while (Task *task = next_ready(last)) {
        last = task->pid;
        if (std::optional<RunResult> end = run_slice(*task)) return told_to_first(*end);
    }
    for (const auto &[pid, task] : tasks_)
        if (task.process) return told_to_first(deadlock());
    return *first_end_;
}

// An end decided here, not by the first process's machine, which its
// observers (a debugger) hear all the same while it is there.
RunResult Scheduler::told_to_first(RunResult end) {
    const auto first = tasks_.find(1);
    if (first != tasks_.end() && first->second.process)
        first->second.process->machine().conclude(end);
    return end;
}

int32_t Scheduler::spawn(const Process &parent, const ElfImage &image,
                         const std::vector<std::string> &argv, Sandbox sandbox,
                         DescriptorTable descriptors) {
    if (tasks_.size() >= kMostProcesses) return -KIVOS_EAGAIN;
    const std::string name = argv.empty() ? std::string() : argv.front();
    return static_cast<int32_t>(
        add(parent.pid(), name, image, argv, std::move(sandbox), std::move(descriptors)).pid);
}

// The next process after `after`, in the order of ids and round again, that
// can go on: one that ran, or one that waits and something changed since.
Scheduler::Task *Scheduler::next_ready(uint32_t after) {
    Task *first = nullptr;
    for (auto &[pid, task] : tasks_) {
        const bool ready =
            task.process && (!task.waiting || task.waiting_since != kernel_.changes());
        if (!ready) continue;
        if (pid > after) return &task;
        if (first == nullptr) first = &task;
    }
    return first;
}

std::optional<RunResult> Scheduler::run_slice(Task &task) {
    const uint64_t limit = options_.instruction_limit;
    if (limit != 0 && instructions_ >= limit) return limit_reached();
    const uint64_t budget = limit == 0 ? kQuantum : std::min(kQuantum, limit - instructions_);
    Machine &machine = task.process->machine();
    const uint64_t before = machine.instructions();
    const RunResult result = machine.resume(budget);
    const uint64_t ran = machine.instructions() - before;
    instructions_ += ran;
    task.instructions += ran;
    task.waiting = false;
    switch (result.end) {
        case RunResult::End::preempted:
            if (limit != 0 && instructions_ >= limit) return limit_reached();
            break;
        case RunResult::End::blocked:
            task.waiting = true;
            task.waiting_since = kernel_.changes();
            break;
        default:
            finish(task, result);
            break;
    }
    return std::nullopt;
}

// The process is gone but for its status: its descriptors close (which may
// end a pipe's input), its streamed files are dropped, its engine is closed.
void Scheduler::finish(Task &task, RunResult result) {
    const bool exited = result.end == RunResult::End::exited;
    if (result.end == RunResult::End::fault && explain_)
        result.message = explain_(result, task.process->machine(), task.name);
    task.wait_status = exited ? KIVOS_WAIT_EXITED(result.status) : KIVOS_WAIT_FAULTED;
    task.ended_as = ++ended_;
    if (options_.keep_summaries)
        gone_.push_back({task.pid, task.name, task.instructions, task.process->calls()});
    task.process.reset();
    kernel_.note_change();

    const uint32_t pid = task.pid;
    if (pid == 1) {
        first_end_ = result;
        if (!exited && several()) first_end_->message = label(task) + first_end_->message;
    } else if (!exited && report_) {
        report_(label(task) + result.message);
    }
    std::vector<uint32_t> unwanted;
    for (auto &[id, other] : tasks_) {
        if (other.parent == pid) other.parent = 0;
        if (other.parent == 0 && !other.process) unwanted.push_back(id);
    }
    for (const uint32_t id : unwanted) tasks_.erase(id);
}

Scheduler::Ended Scheduler::ended_child(uint32_t parent, int32_t pid) const {
    const Task *first = nullptr;
    bool any = false;
    for (const auto &[id, task] : tasks_) {
        if (task.parent != parent || (pid != -1 && static_cast<int32_t>(id) != pid)) continue;
        any = true;
        if (task.ended_as != 0 && (first == nullptr || task.ended_as < first->ended_as))
            first = &task;
    }
    if (first != nullptr) return {static_cast<int32_t>(first->pid), first->wait_status};
    return {any ? 0 : -KIVOS_ECHILD, 0};
}

void Scheduler::reap(uint32_t pid) {
    tasks_.erase(pid);
}

std::string Scheduler::label(const Task &task) const {
    return "process " + std::to_string(task.pid) + " (" + task.name + "): ";
}

RunResult Scheduler::deadlock() const {
    std::string waits;
    for (const auto &[pid, task] : tasks_) {
        if (!task.process) continue;
        const SyscallInfo *call = find_syscall(task.process->machine().eax());
        waits += (waits.empty() ? "" : ", ") + std::to_string(pid) + " in " +
                 std::string(call ? call->name : "a call");
    }
    return {RunResult::End::deadlock, 0,
            "deadlock: every process waits for another (" + waits + ")"};
}

RunResult Scheduler::limit_reached() const {
    return {RunResult::End::limit, 0, fault_report::limit(options_.instruction_limit)};
}

std::vector<Scheduler::Summary> Scheduler::summaries() const {
    std::vector<Summary> all = gone_;
    for (const auto &[pid, task] : tasks_)
        if (task.process) all.push_back({pid, task.name, task.instructions, task.process->calls()});
    std::sort(all.begin(), all.end(),
              [](const Summary &a, const Summary &b) { return a.pid < b.pid; });
    return all;
}

}  // namespace kivos::emu
