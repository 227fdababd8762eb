// A kivos process on an emulated 32-bit x86: the image mapped at its
// addresses, a stack, and every int 0x80 answered by the Kernel. Guest faults
// end a run with a report; nothing the guest does reaches the host.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "emu/address_space.h"
#include "emu/block_lengths.h"
#include "emu/elf_image.h"
#include "emu/engine.h"
#include "emu/guest_memory.h"
#include "emu/kernel.h"
#include "emu/run_result.h"

namespace kivos::emu {

struct MachineOptions {
    // Counting costs a hook on every translated block, so it is off unless asked for.
    bool count_instructions = false;
    // Stop a run after this many instructions (0: no limit); implies counting.
    uint64_t instruction_limit = 0;
    // Count with a hook on every instruction instead: many times slower, the
    // reference that counting by blocks is checked against.
    bool count_each_instruction = false;
    // Every rdtsc of the image reads this instead of the host's clock, which
    // the engine's own counter follows and which cannot be set.
    std::optional<uint64_t> pinned_tsc = std::nullopt;
};

class Machine {
  public:
    Machine(const ElfImage &image, Kernel &kernel, MachineOptions options = {});
    Machine(const Machine &) = delete;
    Machine &operator=(const Machine &) = delete;

    // Runs the image from its entry with argc and argv on the stack.
    RunResult run_program(const std::vector<std::string> &argv);
    // Calls the function at `address` cdecl, arguments pushed right to left;
    // ends `returned` when it returns.
    RunResult call(uint32_t address, const std::vector<uint32_t> &args);

    uint32_t eax() const;
    uint32_t edx() const;
    long double st0() const;
    // Instructions the last run executed, when counting.
    uint64_t instructions() const { return instructions_; }
    // How often the guest has read the pinned time-stamp counter.
    uint64_t tsc_reads() const { return tsc_reads_; }

    // Maps zero-filled guest memory; `perms` are UC_PROT_* bits. Throws MachineError.
    void map(uint32_t address, uint32_t size, uint32_t perms);
    const GuestMemory &memory() const { return memory_; }

  private:
    void load(const ElfImage &image);
    void install_hooks();
    void pin_time_stamp_counter(const ElfImage &image);
    void reset_cpu(uint32_t esp);
    uint32_t build_initial_stack(const std::vector<std::string> &argv);
    RunResult run(uint32_t start, uint64_t until);
    uc_err step_to_limit(uint64_t until);
    void count_to_fault();
    RunResult report_page_fault();
    RunResult classify_stop(uc_err error, uint64_t until);
    uint32_t read_register(int reg) const;
    void write_register(int reg, uint32_t value);
    void stop_with(RunResult result);
    RunResult fault_at(std::string message, uint32_t eip);

    template <typename Work>
    static void guarded(void *self, Work work) noexcept;
    static void on_interrupt(uc_engine *engine, uint32_t vector, void *self);
    static bool on_invalid_memory(uc_engine *engine, uc_mem_type type, uint64_t address, int size,
                                  int64_t value, void *self);
    static void on_block(uc_engine *engine, uint64_t address, uint32_t size, void *self);
    [[gnu::noinline]] void count_block(uint32_t block, uint32_t size);
    static void on_instruction(uc_engine *engine, uint64_t address, uint32_t size, void *self);
    static void on_rdtsc(uc_engine *engine, uint64_t address, uint32_t size, void *self);
    void handle_trap();

    Engine engine_;
    AddressSpace address_space_;
    // The CPU as paging left it, before any run. The engine never delivers an
    // exception, so it would take the next one for a fault within the last
    // (a double fault) without this state put back at each run.
    CpuState reset_state_;
    GuestMemory memory_;
    Kernel &kernel_;
    MachineOptions options_;
    uint32_t entry_;
    BlockLengths block_lengths_;
    uint64_t instructions_ = 0;
    // A block that would take the count past this runs an instruction at a time.
    uint64_t count_ceiling_;
    // The block counted last: a fault inside it leaves the instructions after
    // the faulting one uncounted.
    uint32_t block_start_ = 0;
    std::optional<uint32_t> fault_eip_;
    struct PageFault {
        uint32_t eip;
        uint32_t address;
    };
    std::optional<PageFault> page_fault_;
    // Running a faulting instruction again to see its access.
    bool replaying_ = false;
    // Set when the run stopped before the block that crosses the limit.
    bool near_limit_ = false;
    uint32_t near_limit_block_size_ = 0;
    uint64_t tsc_reads_ = 0;
    std::optional<RunResult> stop_;
    std::exception_ptr host_error_;
};

}  // namespace kivos::emu
