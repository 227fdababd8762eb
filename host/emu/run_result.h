// How a run of the machine ended.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <optional>
#include <string>

namespace kivos::emu {

// What went wrong where, for the reports and debuggers that look closer.
struct Fault {
    enum class Kind {
        memory,               // a bad access: `access` to `address`
        exception,            // a CPU exception of number `vector`
        invalid_instruction,  // bytes that are no instruction
        unexplained,          // the engine stopped without saying why
    };
    Kind kind;
    uint32_t eip;  // the faulting instruction
    uint32_t esp = 0;
    uc_mem_type access = UC_MEM_READ_UNMAPPED;
    uint32_t address = 0;
    uint32_t vector = 0;
};

struct RunResult {
    enum class End {
        exited,     // the guest called _exit; `status` holds its status
        returned,   // a call made from the host returned
        fault,      // the guest faulted; `message` is the one-line report, `fault` the details
        limit,      // the instruction limit stopped it; `message` says so
        blocked,    // a call must wait; the guest stands on its int 0x80
        preempted,  // a resumed run used up its instructions
        deadlock,   // every process waits for another; `message` says which
        killed,     // an observer (a debugger) ended it
    };
    End end;
    int32_t status = 0;
    std::string message;
    std::optional<Fault> fault = std::nullopt;
};

}  // namespace kivos::emu
