#include "emu/machine.h"

#include <kivos/syscalls.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>

#include "emu/code_screen.h"
#include "emu/errors.h"
#include "emu/fault_report.h"
#include "emu/faulting_access.h"
#include "emu/layout.h"
#include "emu/user_mode.h"

namespace kivos::emu {
namespace {

// Extended precision, all exceptions masked: the x87 reset state. unicorn
// starts with 0, which unmasks every exception.
constexpr uint16_t kFpuControl = 0x37F;
constexpr uint16_t kFpuAllEmpty = 0xFFFF;
// Interrupts enabled and the always-one bit; direction flag clear.
constexpr uint32_t kInitialEflags = 0x202;
constexpr uint8_t kHlt = 0xF4;
constexpr uint32_t kProtectionFault = 13;
constexpr uint32_t kPageFault = 14;
// Far more places than any compiled code has where an instruction unicorn
// cannot translate might start; each costs the engine a node of a tree.
constexpr size_t kMostExits = 1u << 16;
constexpr uint8_t kRdtsc[] = {0x0F, 0x31};

// The hlt where calls from the host return is the machine's own: it is never
// counted, nor shown to observers. (Stopping there as at an exit would cost a
// translation of it that unicorn 2.0.1 never frees, at every call.)
constexpr bool at_return_stub(uint64_t address) {
    return address == layout::kReturnAddress;
}

constexpr uint32_t align_down(uint32_t value, uint32_t alignment) {
    return value & ~(alignment - 1);
}

uint32_t permissions(const Segment &segment) {
    uint32_t perms = 0;
    if (segment.readable) perms |= UC_PROT_READ;
    if (segment.writable) perms |= UC_PROT_WRITE;
    if (segment.executable) perms |= UC_PROT_EXEC;
    return perms;
}

std::string words(const std::vector<uint32_t> &values) {
    std::string bytes(values.size() * 4, '\0');
    if (!values.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

}  // namespace

// The engine calls back through C, which no exception may cross: one that
// the work throws stops the engine, and run() throws it again.
template <typename Work>
void Machine::guarded(void *self, Work work) noexcept {
    Machine &machine = *static_cast<Machine *>(self);
    try {
        work(machine);
    } catch (...) {
        machine.host_error_ = std::current_exception();
        uc_emu_stop(machine.engine_.get());
    }
}

Machine::Machine(const ElfImage &image, TrapHandler &handler, MachineOptions options)
    : address_space_(engine_),
      reset_state_(engine_.get()),
      memory_(engine_.get(), address_space_),
      handler_(handler),
      options_(options),
      entry_(image.entry()),
      block_lengths_(engine_.get()),
      count_ceiling_(std::numeric_limits<uint64_t>::max()) {
    check(uc_ctl_exits_enable(engine_.get()), "enabling exits");
    load(image);
    map(layout::kStackBottom, layout::kStackSize, UC_PROT_READ | UC_PROT_WRITE);
    map(layout::kReturnStub, layout::kPageSize, UC_PROT_READ | UC_PROT_EXEC);
    // In user mode each hlt of the stub is a protection fault: the one at the
    // return address ends calls from the host (see on_interrupt).
    check(uc_mem_write(engine_.get(), layout::kReturnStub,
                       std::string(layout::kPageSize, kHlt).data(), layout::kPageSize),
          "filling the return stub");
    // Entering user mode is the one run that stops at the return address
    // before running it.
    exits_.insert(layout::kReturnAddress);
    set_exits();
    enter_user_mode(engine_.get(), address_space_, layout::kReturnAddress);
    exits_.erase(layout::kReturnAddress);
    set_exits();
    reset_state_.save();
    install_hooks();
    memory_.tell_writes([this](uint32_t address, uint32_t size) { screen_written(address, size); });
    if (options_.pinned_tsc) pin_time_stamp_counter(image);
}

void Machine::map(uint32_t address, uint32_t size, uint32_t perms, std::string_view contents) {
    address_space_.map(address, size, perms);
    // Physical memory takes writes whatever the page tables allow; pages
    // without any right have none.
    if (!contents.empty() && perms != 0)
        check(uc_mem_write(engine_.get(), address, contents.data(), contents.size()),
              "filling guest memory");
    if (!contents.empty() && (perms & UC_PROT_EXEC) != 0) screen(address, size);
    if ((perms & UC_PROT_WRITE) != 0 && (perms & UC_PROT_EXEC) != 0)
        watch_code_writes(address, size);
}

// Whole runs of executable pages, for instructions that cross from one page to the next.
void Machine::screen(uint32_t address, uint32_t size) {
    std::string code(size, '\0');
    check(uc_mem_read(engine_.get(), address, code.data(), size), "reading code");
    for (const uint32_t start : untranslatable_starts(address, code)) exits_.insert(start);
    if (exits_.size() > kMostExits)
        throw MachineError("the code holds too many far jumps or calls through a register");
    set_exits();
}

// The engine takes the exits as a whole.
void Machine::set_exits() {
    const std::vector<uint64_t> exits(exits_.begin(), exits_.end());
    check(uc_ctl_set_exits(engine_.get(), const_cast<uint64_t *>(exits.data()), exits.size()),
          "setting exits");
}

// Exits screened in the range go with it: memory mapped there later holds
// other code.
void Machine::unmap(uint32_t address, uint32_t size) {
    drop_translations(engine_.get(), address, address + size - 1);
    address_space_.unmap(address, size);
    writable_code_.erase(writable_code_.lower_bound(address),
                         writable_code_.lower_bound(uint64_t{address} + size));
    const auto first = exits_.lower_bound(address);
    const auto last = exits_.lower_bound(uint64_t{address} + size);
    if (first == last) return;
    exits_.erase(first, last);
    set_exits();
}

// Code the guest writes is screened as it is written: a hook on every store,
// from the first page mapped writable and executable on.
void Machine::watch_code_writes(uint32_t address, uint32_t size) {
    for (uint64_t page = address; page < uint64_t{address} + size; page += layout::kPageSize)
        writable_code_.insert(static_cast<uint32_t>(page));
    if (code_writes_ != 0) return;
    check(uc_hook_add(engine_.get(), &code_writes_, UC_HOOK_MEM_WRITE,
                      reinterpret_cast<void *>(&on_code_write), this, 1, 0),
          "hooking writes to code");
}

// The hook runs before the store: the bytes to come are its value.
void Machine::on_code_write(uc_engine *, uc_mem_type, uint64_t address, int size, int64_t value,
                            void *self) {
    Machine &machine = *static_cast<Machine *>(self);
    const auto first = static_cast<uint32_t>(address), last = first + size - 1;
    if (!machine.writable_code_.contains(layout::page_down(first)) &&
        !machine.writable_code_.contains(layout::page_down(last)))
        return;
    guarded(self, [first, size, value](Machine &m) {
        uint8_t incoming[sizeof value];
        std::memcpy(incoming, &value, sizeof value);
        m.rescreen(first, std::min<uint32_t>(size, sizeof value), incoming);
    });
}

// What the kernel or a debugger wrote into executable pages.
void Machine::screen_written(uint32_t address, uint32_t size) {
    for (uint64_t page = layout::page_down(address); page < uint64_t{address} + size;
         page += layout::kPageSize) {
        if (executable(page)) return rescreen(address, size, nullptr);
    }
}

bool Machine::executable(uint64_t address) const {
    return address < uint64_t{1} << 32 &&
           (address_space_.permissions(static_cast<uint32_t>(address)) & UC_PROT_EXEC) != 0;
}

// The exits of the starts whose instruction may cover [address, address +
// size) follow the bytes there, `incoming` when given, read when not.
void Machine::rescreen(uint32_t address, uint32_t size, const uint8_t *incoming) {
    constexpr uint32_t kLongest = 15;  // bytes of an instruction
    const uint64_t page = layout::page_down(address);
    const uint64_t last_page = layout::page_down(address + size - 1);
    uint64_t begin = address - std::min(address, 2 * kLongest);
    uint64_t end = std::min(uint64_t{address} + size + 2 * kLongest, uint64_t{1} << 32);
    if (begin < page && !executable(page - layout::kPageSize)) begin = page;
    if (end > last_page + layout::kPageSize && !executable(last_page + layout::kPageSize))
        end = last_page + layout::kPageSize;
    std::string code(end - begin, '\0');
    check(uc_mem_read(engine_.get(), begin, code.data(), code.size()), "reading code");
    if (incoming != nullptr) std::memcpy(code.data() + (address - begin), incoming, size);
    const uint64_t from = std::max<uint64_t>(begin, address - std::min(address, kLongest));
    const uint64_t to = uint64_t{address} + size;
    std::set<uint64_t> starts;
    for (const uint32_t start : untranslatable_starts(static_cast<uint32_t>(begin), code))
        if (start >= from && start < to) starts.insert(start);
    const auto first = exits_.lower_bound(from), last = exits_.lower_bound(to);
    if (std::equal(first, last, starts.begin(), starts.end())) return;  // most stores
    exits_.erase(first, last);
    exits_.insert(starts.begin(), starts.end());
    if (exits_.size() > kMostExits)
        throw MachineError("the code holds too many far jumps or calls through a register");
    set_exits();
}

// Pages shared by two segments get the permissions of both: the engine
// protects whole pages. Mapped memory starts zeroed, which is the bss.
void Machine::load(const ElfImage &image) {
    std::map<uint32_t, uint32_t> pages;
    for (const Segment &segment : image.segments()) {
        const uint64_t end = layout::page_up(uint64_t{segment.vaddr} + segment.memsz);
        for (uint64_t page = layout::page_down(segment.vaddr); page < end;
             page += layout::kPageSize)
            pages[static_cast<uint32_t>(page)] |= permissions(segment);
    }
    for (auto run = pages.begin(); run != pages.end();) {
        auto next = std::next(run);
        uint32_t size = layout::kPageSize;
        while (next != pages.end() && next->first == run->first + size &&
               next->second == run->second) {
            size += layout::kPageSize;
            ++next;
        }
        map(run->first, size, run->second);
        run = next;
    }
    // A segment without any right is never mapped, and its bytes never seen.
    for (const Segment &segment : image.segments()) {
        const auto bytes = image.contents(segment);
        if (!bytes.empty() && permissions(segment) != 0)
            check(uc_mem_write(engine_.get(), segment.vaddr, bytes.data(), bytes.size()),
                  "loading a segment");
    }
    for (auto run = pages.begin(); run != pages.end();) {
        if ((run->second & UC_PROT_EXEC) == 0) {
            ++run;
            continue;
        }
        auto next = std::next(run);
        uint32_t size = layout::kPageSize;
        for (; next != pages.end() && next->first == run->first + size &&
               (next->second & UC_PROT_EXEC) != 0;
             ++next)
            size += layout::kPageSize;
        screen(run->first, size);
        run = next;
    }
}

void Machine::install_hooks() {
    uc_hook hook;
    check(uc_hook_add(engine_.get(), &hook, UC_HOOK_INTR, reinterpret_cast<void *>(&on_interrupt),
                      this, 1, 0),
          "hooking interrupts");
    check(uc_hook_add(engine_.get(), &hook, UC_HOOK_MEM_INVALID,
                      reinterpret_cast<void *>(&on_invalid_memory), this, 1, 0),
          "hooking bad accesses");
    // unicorn runs these instead of faulting, whatever the privilege.
    for (const int instruction : {UC_X86_INS_SYSENTER, UC_X86_INS_SYSCALL})
        check(uc_hook_add(engine_.get(), &hook, UC_HOOK_INSN,
                          reinterpret_cast<void *>(&on_fast_system_call), this, 1, 0, instruction),
              "hooking fast system calls");
    check(uc_hook_add(engine_.get(), &hook, UC_HOOK_INSN, reinterpret_cast<void *>(&on_port_in),
                      this, 1, 0, UC_X86_INS_IN),
          "hooking port input");
    check(uc_hook_add(engine_.get(), &hook, UC_HOOK_INSN, reinterpret_cast<void *>(&on_port_out),
                      this, 1, 0, UC_X86_INS_OUT),
          "hooking port output");
    // Hooks added after the first run are ignored until the translation cache
    // is flushed, so counting is decided here, once.
    if (options_.count_each_instruction)
        check(uc_hook_add(engine_.get(), &hook, UC_HOOK_CODE,
                          reinterpret_cast<void *>(&on_instruction), this, 1, 0),
              "hooking instructions");
    else if (options_.count_instructions || options_.instruction_limit != 0)
        check(uc_hook_add(engine_.get(), &hook, UC_HOOK_BLOCK, reinterpret_cast<void *>(&on_block),
                          this, 1, 0),
              "hooking blocks");
    // Last, so that a block or instruction the counting stops before is one
    // the observers never see.
    hook_observers();
}

// Each observer gets the hooks it asked for, each with its own user data.
void Machine::hook_observers() {
    observer_hooks_.reserve(options_.observers.size());
    for (ExecutionObserver *observer : options_.observers) {
        ObserverHook &link = observer_hooks_.emplace_back(ObserverHook{this, observer});
        const ExecutionObserver::Interest interest = observer->interest();
        uc_hook hook;
        if (interest.blocks)
            check(uc_hook_add(engine_.get(), &hook, UC_HOOK_BLOCK,
                              reinterpret_cast<void *>(&on_observed_block), &link, 1, 0),
                  "hooking blocks");
        if (interest.instructions)
            check(uc_hook_add(engine_.get(), &hook, UC_HOOK_CODE,
                              reinterpret_cast<void *>(&on_observed_instruction), &link, 1, 0),
                  "hooking instructions");
        if (interest.accesses)
            check(uc_hook_add(engine_.get(), &hook, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE,
                              reinterpret_cast<void *>(&on_observed_access), &link, 1, 0),
                  "hooking accesses");
    }
}

// unicorn 2.0 cannot hook rdtsc itself, so every 0F 31 in executable bytes
// gets a code hook that answers in its place. A pair lying inside another
// instruction never starts one, so its hook never fires.
void Machine::pin_time_stamp_counter(const ElfImage &image) {
    for (const Segment &segment : image.segments()) {
        if (!segment.executable) continue;
        const auto bytes = image.contents(segment);
        for (size_t i = 0; i + sizeof kRdtsc <= bytes.size(); ++i) {
            if (bytes[i] != kRdtsc[0] || bytes[i + 1] != kRdtsc[1]) continue;
            const uint64_t address = segment.vaddr + i;
            uc_hook hook;
            check(uc_hook_add(engine_.get(), &hook, UC_HOOK_CODE,
                              reinterpret_cast<void *>(&on_rdtsc), this, address, address),
                  "hooking rdtsc");
        }
    }
}

uint32_t Machine::read_register(int reg) const {
    uint32_t value = 0;
    check(uc_reg_read(engine_.get(), reg, &value), "reading a register");
    return value;
}

void Machine::write_register(int reg, uint32_t value) {
    check(uc_reg_write(engine_.get(), reg, &value), "writing a register");
}

uint32_t Machine::eax() const {
    return read_register(UC_X86_REG_EAX);
}
uint32_t Machine::edx() const {
    return read_register(UC_X86_REG_EDX);
}

Machine::X87Bits Machine::read_x87(int reg) const {
    X87Bits bits{};
    check(uc_reg_read(engine_.get(), reg, bits.data()), "reading an x87 register");
    return bits;
}

void Machine::write_x87(int reg, const X87Bits &bits) {
    check(uc_reg_write(engine_.get(), reg, bits.data()), "writing an x87 register");
}

long double Machine::st0() const {
    // ST0 is the top of the x87 stack (FP0 is the physical register 0); the
    // 80-bit format is the host's long double too.
    uint8_t raw[10] = {};
    check(uc_reg_read(engine_.get(), UC_X86_REG_ST0, raw), "reading st(0)");
    long double value = 0;
    std::memcpy(&value, raw, sizeof raw);
    return value;
}

void Machine::reset_cpu(uint32_t esp) {
    reset_state_.restore();
    for (const int reg : {UC_X86_REG_EAX, UC_X86_REG_EBX, UC_X86_REG_ECX, UC_X86_REG_EDX,
                          UC_X86_REG_ESI, UC_X86_REG_EDI, UC_X86_REG_EBP})
        write_register(reg, 0);
    write_register(UC_X86_REG_ESP, esp);
    write_register(UC_X86_REG_EFLAGS, kInitialEflags);
    uint16_t control = kFpuControl, status = 0, tags = kFpuAllEmpty;
    check(uc_reg_write(engine_.get(), UC_X86_REG_FPCW, &control), "setting the x87 control word");
    check(uc_reg_write(engine_.get(), UC_X86_REG_FPSW, &status), "clearing the x87 status");
    check(uc_reg_write(engine_.get(), UC_X86_REG_FPTAG, &tags), "emptying the x87 stack");
}

// argc at esp, then argv[0..argc-1], then a null pointer; the strings
// themselves sit at the top of the stack.
uint32_t Machine::build_initial_stack(const std::vector<std::string> &argv) {
    uint64_t needed = 4 * (argv.size() + 2);
    for (const std::string &arg : argv) needed += arg.size() + 1;
    // Half the stack stays free for the program.
    if (needed > layout::kStackSize / 2)
        throw MachineError("arguments do not fit on the guest stack");

    uint32_t top = layout::kStackTop;
    std::vector<uint32_t> frame{static_cast<uint32_t>(argv.size())};
    for (const std::string &arg : argv) {
        top -= static_cast<uint32_t>(arg.size()) + 1;
        check(uc_mem_write(engine_.get(), top, arg.c_str(), arg.size() + 1), "placing an argument");
        frame.push_back(top);
    }
    frame.push_back(0);
    const std::string bytes = words(frame);
    const uint32_t esp = align_down(top - static_cast<uint32_t>(bytes.size()), 16);
    check(uc_mem_write(engine_.get(), esp, bytes.data(), bytes.size()), "placing argv");
    return esp;
}

RunResult Machine::run_program(const std::vector<std::string> &argv) {
    reset_cpu(build_initial_stack(argv));
    return run(entry_, 0);
}

void Machine::prepare_program(const std::vector<std::string> &argv) {
    reset_cpu(build_initial_stack(argv));
    write_register(UC_X86_REG_EIP, entry_);
    instructions_ = 0;
}

RunResult Machine::resume(uint64_t budget) {
    count_ceiling_ = instructions_ + budget;
    ceiling_end_ = RunResult::End::preempted;
    return run_on(read_register(UC_X86_REG_EIP), 0);
}

RunResult Machine::call(uint32_t address, const std::vector<uint32_t> &args) {
    // At the call the stack is 16-byte aligned, as the i386 ABI wants.
    const std::string bytes = words(args);
    const uint32_t base =
        align_down(layout::kStackTop - layout::kPageSize - static_cast<uint32_t>(bytes.size()), 16);
    const uint32_t esp = base - 4;
    const std::string return_address = words({layout::kReturnAddress});
    check(uc_mem_write(engine_.get(), base, bytes.data(), bytes.size()), "placing call arguments");
    check(uc_mem_write(engine_.get(), esp, return_address.data(), 4), "placing the return address");
    reset_cpu(esp);
    return run(address, layout::kReturnAddress);
}

RunResult Machine::run(uint32_t start, uint64_t until) {
    instructions_ = 0;
    count_ceiling_ = options_.instruction_limit != 0 ? options_.instruction_limit
                                                     : std::numeric_limits<uint64_t>::max();
    ceiling_end_ = RunResult::End::limit;
    return run_on(start, until);
}

RunResult Machine::run_on(uint32_t start, uint64_t until) {
    stop_.reset();
    host_error_ = nullptr;
    fault_eip_.reset();
    page_fault_.reset();
    block_start_ = 0;
    near_limit_ = false;
    engine_.keep_room_for_translations();
    uc_err error = uc_emu_start(engine_.get(), start, until, 0, 0);
    if (near_limit_ && !host_error_) error = step_to_limit(until);
    if (page_fault_ && !host_error_ && !stop_) stop_ = report_page_fault();
    if (host_error_) std::rethrow_exception(host_error_);
    if (stop_ && stop_->end == RunResult::End::blocked) write_register(UC_X86_REG_EIP, blocked_at_);
    RunResult result = stop_ ? *stop_ : classify_stop(error, until);
    if (fault_eip_ && block_start_ != 0) count_to_fault();
    // Debuggers and reports find the guest standing on the faulting instruction.
    if (fault_eip_) write_register(UC_X86_REG_EIP, *fault_eip_);
    // A process that waits or gave up its turn goes on later.
    if (result.end != RunResult::End::blocked && result.end != RunResult::End::preempted)
        conclude(result);
    return result;
}

void Machine::conclude(const RunResult &result) {
    for (ExecutionObserver *observer : options_.observers) observer->on_end(*this, result);
}

// The limit falls inside the block the run stopped before, so that block alone
// is translated again with a hook on each of its instructions, and once more
// without when the run ends there.
uc_err Machine::step_to_limit(uint64_t until) {
    const uint32_t block = read_register(UC_X86_REG_EIP);
    const uint32_t last = block + near_limit_block_size_ - 1;
    uc_hook hook;
    check(uc_hook_add(engine_.get(), &hook, UC_HOOK_CODE, reinterpret_cast<void *>(&on_instruction),
                      this, block, last),
          "hooking instructions");
    drop_translations(engine_.get(), block, last);
    block_start_ = 0;
    const uc_err error = uc_emu_start(engine_.get(), block, until, 0, 0);
    check(uc_hook_del(engine_.get(), hook), "unhooking instructions");
    drop_translations(engine_.get(), block, last);
    return error;
}

// The block's hook counted all of the block; what follows the faulting
// instruction never ran. To count it, the engine translates from the faulting
// instruction on, held by an exit to where the block that ran ended: past it
// the code may not be fetchable, and a fetch that faults while translating
// outside a run brings unicorn 2.0.1 down.
void Machine::count_to_fault() {
    const uint32_t counted = block_lengths_.at(block_start_);
    const uint32_t end = block_start_ + block_lengths_.size(block_start_);
    const uint32_t eip = *fault_eip_;
    if (eip < block_start_ || eip >= end) return;  // the block ran whole
    const bool exit_there = exits_.contains(end);
    exits_.insert(end);
    set_exits();
    const uint32_t ran = block_lengths_.before(block_start_, eip) + 1;
    if (!exit_there) exits_.erase(end);
    set_exits();
    drop_translations(engine_.get(), eip, end - 1);
    if (ran < counted) instructions_ -= counted - ran;
}

// A page that is present faults only on a write. Otherwise the access is found
// by running the instruction again, which must neither count nor stop early.
RunResult Machine::report_page_fault() {
    const auto [eip, address] = *page_fault_;
    if (touches_below_exit(UC_MEM_FETCH_UNMAPPED, address, eip))
        return fault_at({Fault::Kind::invalid_instruction, eip});
    uc_mem_type type = UC_MEM_WRITE_PROT;
    if (address_space_.permissions(address) == 0) {
        // Counted first: the replay drops the block's translation, and asking
        // the engine for it afresh can bring it down.
        fault_eip_ = eip;
        if (block_start_ != 0) count_to_fault();
        block_start_ = 0;
        const uint64_t counted = instructions_;
        replaying_ = true;
        const uc_mem_type access = faulting_access(engine_.get(), eip, address);
        replaying_ = false;
        instructions_ = counted;
        block_start_ = 0;
        type = access == UC_MEM_WRITE  ? UC_MEM_WRITE_UNMAPPED
               : access == UC_MEM_READ ? UC_MEM_READ_UNMAPPED
                                       : UC_MEM_FETCH_UNMAPPED;
    }
    return fault_at({.kind = Fault::Kind::memory,
                     .eip = eip,
                     .esp = read_register(UC_X86_REG_ESP),
                     .access = type,
                     .address = address});
}

// The engine stopped without one of our hooks asking it to.
RunResult Machine::classify_stop(uc_err error, uint64_t until) {
    const uint32_t eip = read_register(UC_X86_REG_EIP);
    if (error == UC_ERR_INSN_INVALID) return fault_at({Fault::Kind::invalid_instruction, eip});
    if (error == UC_ERR_OK && at_return_stub(eip))
        return until == eip ? RunResult{RunResult::End::returned, 0, {}} : protection_fault(eip);
    if (error == UC_ERR_OK && exits_.contains(eip))
        return fault_at({Fault::Kind::invalid_instruction, eip});
    return fault_at({Fault::Kind::unexplained, eip});
}

// What the stub's hlt is at privilege level 3.
RunResult Machine::protection_fault(uint32_t eip) {
    return fault_at({.kind = Fault::Kind::exception, .eip = eip, .vector = kProtectionFault});
}

void Machine::stop_with(RunResult result) {
    stop_ = std::move(result);
    uc_emu_stop(engine_.get());
}

RunResult Machine::fault_at(Fault fault) {
    fault_eip_ = fault.eip;
    return {RunResult::End::fault, 0, fault_report::describe(fault), fault};
}

void Machine::on_interrupt(uc_engine *, uint32_t vector, void *self) {
    guarded(self, [vector](Machine &machine) {
        // Met again, a page fault arrives as a double fault: the engine takes
        // it for one raised while the first was being delivered.
        if (machine.replaying_) return static_cast<void>(uc_emu_stop(machine.engine_.get()));
        // A hook stopped the run at a fault, and the engine runs on to the end
        // of the block: nothing after the fault may take effect.
        if (machine.stop_) return;
        if (vector == KIVOS_TRAP_VECTOR) {
            machine.handle_trap();
        } else if (vector == kProtectionFault &&
                   at_return_stub(machine.read_register(UC_X86_REG_EIP))) {
            // classify_stop tells a return from a jump there.
            uc_emu_stop(machine.engine_.get());
        } else if (vector == kPageFault) {
            // eip is exact here; the report waits for the run to end. The
            // engine goes on to the end of the block, so the first fault is it.
            if (!machine.page_fault_)
                machine.page_fault_ = {machine.read_register(UC_X86_REG_EIP),
                                       machine.read_register(UC_X86_REG_CR2)};
            uc_emu_stop(machine.engine_.get());
        } else {
            // Left alone, an exception would escalate into a double fault.
            machine.stop_with(machine.fault_at({.kind = Fault::Kind::exception,
                                                .eip = machine.read_register(UC_X86_REG_EIP),
                                                .vector = vector}));
        }
    });
}

void Machine::handle_trap() {
    TrapFrame frame{read_register(UC_X86_REG_EAX),
                    {read_register(UC_X86_REG_EBX), read_register(UC_X86_REG_ECX),
                     read_register(UC_X86_REG_EDX), read_register(UC_X86_REG_ESI),
                     read_register(UC_X86_REG_EDI), read_register(UC_X86_REG_EBP)}};
    const TrapOutcome outcome = handler_.on_trap(frame);
    if (outcome.blocked) {
        // Asked to stop here, the engine still runs the instruction at eip,
        // and again and again were that the int 0x80 itself: so eip goes to
        // the halting stub, and the run puts it back on the int (two bytes),
        // eax still the call number, for the call to be made afresh when the
        // guest goes on.
        blocked_at_ = read_register(UC_X86_REG_EIP) - 2;
        write_register(UC_X86_REG_EIP, layout::kReturnAddress);
        stop_with({RunResult::End::blocked, 0, {}});
        return;
    }
    write_register(UC_X86_REG_EAX, static_cast<uint32_t>(outcome.result));
    if (outcome.exit_status) stop_with({RunResult::End::exited, *outcome.exit_status, {}});
}

bool Machine::on_invalid_memory(uc_engine *, uc_mem_type type, uint64_t address, int, int64_t,
                                void *self) {
    bool backed = false;
    guarded(self, [type, address, &backed](Machine &machine) {
        // Once the page is backed, the page walk raises the fault at the exact instruction.
        const bool unmapped = type == UC_MEM_READ_UNMAPPED || type == UC_MEM_WRITE_UNMAPPED ||
                              type == UC_MEM_FETCH_UNMAPPED;
        const uint32_t eip = machine.read_register(UC_X86_REG_EIP);
        if (machine.touches_below_exit(type, static_cast<uint32_t>(address), eip)) {
            machine.stop_ = machine.fault_at({Fault::Kind::invalid_instruction, eip});
            return;
        }
        backed = unmapped && machine.address_space_.back(static_cast<uint32_t>(address));
        if (backed) return;
        machine.stop_ = machine.fault_at({.kind = Fault::Kind::memory,
                                          .eip = eip,
                                          .esp = machine.read_register(UC_X86_REG_ESP),
                                          .access = type,
                                          .address = static_cast<uint32_t>(address)});
    });
    return backed;
}

// Stopping at an exit that starts a page, unicorn 2.0.1 first fetches from the
// page below it.
bool Machine::touches_below_exit(uc_mem_type type, uint32_t address, uint32_t eip) const {
    return (type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT) &&
           layout::page_down(eip) == eip && layout::page_down(address) + layout::kPageSize == eip &&
           exits_.contains(eip);
}

// The hook runs at every block, so all but the common case is out of line.
void Machine::on_block(uc_engine *, uint64_t address, uint32_t size, void *self) {
    Machine &machine = *static_cast<Machine *>(self);
    const auto block = static_cast<uint32_t>(address);
    const uint64_t count = machine.instructions_ + machine.block_lengths_.known(block);
    if (count == machine.instructions_ || count > machine.count_ceiling_) [[unlikely]]
        return machine.count_block(block, size);
    machine.block_start_ = block;
    machine.instructions_ = count;
}

void Machine::count_block(uint32_t block, uint32_t size) {
    if (replaying_ || at_return_stub(block)) return;
    guarded(this, [block, size](Machine &machine) {
        const uint64_t count = machine.instructions_ + machine.block_lengths_.at(block);
        if (count <= machine.count_ceiling_) {
            machine.block_start_ = block;
            machine.instructions_ = count;
        } else if (!machine.near_limit_) {
            // A stop requested in a block's hook keeps the block from running. When
            // it runs again, an instruction at a time, its instructions count themselves.
            machine.near_limit_ = true;
            machine.near_limit_block_size_ = size;
            uc_emu_stop(machine.engine_.get());
        }
    });
}

void Machine::on_instruction(uc_engine *, uint64_t address, uint32_t, void *self) {
    if (at_return_stub(address)) return;
    guarded(self, [](Machine &machine) {
        const uint64_t ceiling = machine.count_ceiling_;
        const RunResult::End end = machine.ceiling_end_;
        // A stop requested here keeps this instruction from running.
        if (machine.instructions_ == ceiling && !machine.stop_)
            machine.stop_with(
                {end, 0, end == RunResult::End::limit ? fault_report::limit(ceiling) : ""});
        else
            ++machine.instructions_;
    });
}

void Machine::on_rdtsc(uc_engine *, uint64_t address, uint32_t, void *self) {
    guarded(self, [address](Machine &machine) {
        const uint64_t value = *machine.options_.pinned_tsc;
        machine.write_register(UC_X86_REG_EAX, static_cast<uint32_t>(value));
        machine.write_register(UC_X86_REG_EDX, static_cast<uint32_t>(value >> 32));
        machine.write_register(UC_X86_REG_EIP, static_cast<uint32_t>(address + sizeof kRdtsc));
        ++machine.tsc_reads_;
    });
}

void Machine::on_fast_system_call(uc_engine *, void *self) {
    guarded(self, [](Machine &machine) {
        machine.stop_with(machine.protection_fault(machine.read_register(UC_X86_REG_EIP)));
    });
}

uint32_t Machine::on_port_in(uc_engine *engine, uint32_t, int, void *self) {
    on_fast_system_call(engine, self);
    return 0;
}

void Machine::on_port_out(uc_engine *engine, uint32_t, int, uint32_t, void *self) {
    on_fast_system_call(engine, self);
}

void Machine::on_observed_block(uc_engine *, uint64_t address, uint32_t size, void *hook) {
    const ObserverHook &link = *static_cast<ObserverHook *>(hook);
    guarded(link.machine, [&link, address, size](Machine &machine) {
        // The replay of a faulting instruction is the machine's own business.
        if (machine.replaying_ || at_return_stub(address)) return;
        link.observer->on_block(machine, static_cast<uint32_t>(address), size);
    });
}

void Machine::on_observed_instruction(uc_engine *, uint64_t address, uint32_t, void *hook) {
    const ObserverHook &link = *static_cast<ObserverHook *>(hook);
    guarded(link.machine, [&link, address](Machine &machine) {
        // A stop asked for by an earlier hook of this instruction stands.
        if (!machine.stop_ && !at_return_stub(address) &&
            !link.observer->on_instruction(machine, static_cast<uint32_t>(address)))
            machine.stop_with({RunResult::End::killed, 0, "ended by the debugger"});
    });
}

void Machine::on_observed_access(uc_engine *, uc_mem_type type, uint64_t address, int size, int64_t,
                                 void *hook) {
    const ObserverHook &link = *static_cast<ObserverHook *>(hook);
    guarded(link.machine, [&link, type, address, size](Machine &machine) {
        if (machine.replaying_) return;
        link.observer->on_access(machine, type == UC_MEM_WRITE, static_cast<uint32_t>(address),
                                 static_cast<uint32_t>(size));
    });
}

}  // namespace kivos::emu
