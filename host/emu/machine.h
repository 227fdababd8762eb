// The CPU and address space of one kivos process on an emulated 32-bit x86:
// the image mapped at its addresses, a stack, and every int 0x80 handed to a
// TrapHandler. Guest faults end a run with a report; nothing the guest does
// reaches the host.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "emu/address_space.h"
#include "emu/block_lengths.h"
#include "emu/elf_image.h"
#include "emu/engine.h"
#include "emu/execution_observer.h"
#include "emu/guest_memory.h"
#include "emu/run_result.h"
#include "emu/trap.h"

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
    // Debuggers and coverage counters; each costs the hooks it asks for.
    std::vector<ExecutionObserver *> observers = {};
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
    // Tells the observers the run has ended so, for ends decided outside the
    // machine (the limit of all processes, a deadlock).
    void conclude(const RunResult &result);
    // Calls the function at `address` cdecl, arguments pushed right to left;
    // ends `returned` when it returns.
    RunResult call(uint32_t address, const std::vector<uint32_t> &args);

    uint32_t eax() const;
    uint32_t edx() const;
    long double st0() const;
    // Any register by its unicorn number (UC_X86_REG_*); throw MachineError.
    uint32_t read_register(int reg) const;
    void write_register(int reg, uint32_t value);
    // An x87 register (UC_X86_REG_ST0..ST7, counted from the stack top) as its 80 bits.
    using X87Bits = std::array<uint8_t, 10>;
    X87Bits read_x87(int reg) const;
    void write_x87(int reg, const X87Bits &bits);
    // Instructions the last run executed, when counting; resumed runs add up.
    uint64_t instructions() const { return instructions_; }
    // How often the guest has read the pinned time-stamp counter.
    uint64_t tsc_reads() const { return tsc_reads_; }

    // Maps guest memory holding `contents` and zeros after them; `perms` are
    // UC_PROT_* bits. Throws MachineError.
    void map(uint32_t address, uint32_t size, uint32_t perms, std::string_view contents = {});
    void unmap(uint32_t address, uint32_t size);
    const GuestMemory &memory() const { return memory_; }
    const AddressSpace &address_space() const { return address_space_; }

  private:
    void load(const ElfImage &image);
    void screen(uint32_t address, uint32_t size);
    void install_hooks();
    void pin_time_stamp_counter(const ElfImage &image);
    void reset_cpu(uint32_t esp);
    uint32_t build_initial_stack(const std::vector<std::string> &argv);
    RunResult run(uint32_t start, uint64_t until);
    RunResult run_on(uint32_t start, uint64_t until);
    uc_err step_to_limit(uint64_t until);
    void count_to_fault();
    RunResult report_page_fault();
    RunResult classify_stop(uc_err error, uint64_t until);
    RunResult protection_fault(uint32_t eip);
    void stop_with(RunResult result);
    RunResult fault_at(Fault fault);
    void hook_observers();

    template <typename Work>
    static void guarded(void *self, Work work) noexcept;
    static void on_interrupt(uc_engine *engine, uint32_t vector, void *self);
    static bool on_invalid_memory(uc_engine *engine, uc_mem_type type, uint64_t address, int size,
                                  int64_t value, void *self);
    static void on_block(uc_engine *engine, uint64_t address, uint32_t size, void *self);
    [[gnu::noinline]] void count_block(uint32_t block, uint32_t size);
    static void on_instruction(uc_engine *engine, uint64_t address, uint32_t size, void *self);
    static void on_rdtsc(uc_engine *engine, uint64_t address, uint32_t size, void *self);
    static void on_fast_system_call(uc_engine *engine, void *self);
    static uint32_t on_port_in(uc_engine *engine, uint32_t port, int size, void *self);
    static void on_port_out(uc_engine *engine, uint32_t port, int size, uint32_t value, void *self);
    bool touches_below_exit(uc_mem_type type, uint32_t address, uint32_t eip) const;
    void handle_trap();
    void set_exits();
    void watch_code_writes(uint32_t address, uint32_t size);
    void screen_written(uint32_t address, uint32_t size);
    void rescreen(uint32_t address, uint32_t size, const uint8_t *incoming);
    bool executable(uint64_t address) const;
    static void on_code_write(uc_engine *engine, uc_mem_type type, uint64_t address, int size,
                              int64_t value, void *self);

    // What an observer's hooks get as their user data.
    struct ObserverHook {
        Machine *machine;
        ExecutionObserver *observer;
    };
    static void on_observed_block(uc_engine *engine, uint64_t address, uint32_t size, void *hook);
    static void on_observed_instruction(uc_engine *engine, uint64_t address, uint32_t size,
                                        void *hook);
    static void on_observed_access(uc_engine *engine, uc_mem_type type, uint64_t address, int size,
                                   int64_t value, void *hook);

    Engine engine_;
    AddressSpace address_space_;
    // Where the engine stops before translating: every start of an
    // instruction it cannot translate.
    std::set<uint64_t> exits_;
    // Pages mapped writable and executable, where the guest may write code,
    // and the hook that screens what it writes there, once there are any.
    std::set<uint32_t> writable_code_;
    uc_hook code_writes_ = 0;
    // The CPU as paging and user mode left it, before any run. The engine never delivers an
    // exception, so it would take the next one for a fault within the last
    // (a double fault) without this state put back at each run.
    CpuState reset_state_;
    GuestMemory memory_;
    TrapHandler &handler_;
    MachineOptions options_;
    uint32_t entry_;
    BlockLengths block_lengths_;
    uint64_t instructions_ = 0;
    // A block that would take the count past this runs an instruction at a
    // time, and the run stops at it, ending `ceiling_end_`.
    uint64_t count_ceiling_;
    RunResult::End ceiling_end_ = RunResult::End::limit;
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
    uint32_t blocked_at_ = 0;  // the int 0x80 of a call that must wait
    std::optional<RunResult> stop_;
    std::exception_ptr host_error_;
    std::vector<ObserverHook> observer_hooks_;
};

}  // namespace kivos::emu
