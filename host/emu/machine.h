// The CPU and address space of one kivos process on an emulated 32-bit x86:
// the image mapped at its addresses, a stack, and every int 0x80 handed to a
// TrapHandler. Guest faults end a run with a report; nothing the guest does
// reaches the host.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emu/elf_image.h"
#include "emu/engine.h"
#include "emu/guest_memory.h"
#include "emu/run_result.h"
#include "emu/trap.h"

namespace kivos::emu {

struct MachineOptions {
    // Counting costs a hook on every instruction, so it is off unless asked for.
    bool count_instructions = false;
    // Stop a run after this many instructions (0: no limit); implies counting.
    uint64_t instruction_limit = 0;
    // Every rdtsc of the image reads this instead of the host's clock, which
    // the engine's own counter follows and which cannot be set.
    std::optional<uint64_t> pinned_tsc = std::nullopt;
};

class Machine {
  public:
    Machine(const ElfImage &image, TrapHandler &handler, MachineOptions options = {});
    Machine(const Machine &) = delete;
    Machine &operator=(const Machine &) = delete;

    // Runs the image from its entry with argc and argv on the stack.
    RunResult run_program(const std::vector<std::string> &argv);
    // Sets the program up as run_program does, without running it.
    void prepare_program(const std::vector<std::string> &argv);
    // Runs on from where the guest stopped, for at most `budget` more
    // instructions (counting must be on); `preempted` when they are used up.
    RunResult resume(uint64_t budget);
    // Calls the function at `address` cdecl, arguments pushed right to left;
    // ends `returned` when it returns.
    RunResult call(uint32_t address, const std::vector<uint32_t> &args);

    uint32_t eax() const;
    uint32_t edx() const;
    long double st0() const;
    // Instructions the last run executed, when counting; resumed runs add up.
    uint64_t instructions() const { return instructions_; }
    // How often the guest has read the pinned time-stamp counter.
    uint64_t tsc_reads() const { return tsc_reads_; }

    // Maps guest memory holding `contents` and zeros after them; `perms` are
    // UC_PROT_* bits. Throws MachineError.
    void map(uint32_t address, uint32_t size, uint32_t perms, std::string_view contents = {});
    void unmap(uint32_t address, uint32_t size);
    const GuestMemory &memory() const { return memory_; }

  private:
    void load(const ElfImage &image);
    void install_hooks();
    void pin_time_stamp_counter(const ElfImage &image);
    void reset_cpu(uint32_t esp);
    uint32_t build_initial_stack(const std::vector<std::string> &argv);
    RunResult run(uint32_t start, uint64_t until);
    RunResult run_on(uint32_t start, uint64_t until);
    RunResult classify_stop(uc_err error, uint64_t until);
    uint32_t read_register(int reg) const;
    void write_register(int reg, uint32_t value);
    void stop_with(RunResult result);

    template <typename Work>
    static void guarded(void *self, Work work) noexcept;
    static void on_interrupt(uc_engine *engine, uint32_t vector, void *self);
    static bool on_invalid_memory(uc_engine *engine, uc_mem_type type, uint64_t address, int size,
                                  int64_t value, void *self);
    static void on_instruction(uc_engine *engine, uint64_t address, uint32_t size, void *self);
    static void on_rdtsc(uc_engine *engine, uint64_t address, uint32_t size, void *self);
    static void on_exact_eip(uc_engine *engine, uc_mem_type type, uint64_t address, int size,
                             int64_t value, void *self);
    void handle_trap();

    Engine engine_;
    GuestMemory memory_;
    TrapHandler &handler_;
    MachineOptions options_;
    uint32_t entry_;
    uint64_t instructions_ = 0;
    // The run stops before instruction number stop_at_ + 1 (0: never), ending `stop_end_`.
    uint64_t stop_at_ = 0;
    RunResult::End stop_end_ = RunResult::End::limit;
    uint64_t tsc_reads_ = 0;
    uint32_t blocked_at_ = 0;  // the int 0x80 of a call that must wait
    std::optional<RunResult> stop_;
    std::exception_ptr host_error_;
};

}  // namespace kivos::emu
