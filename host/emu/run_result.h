// How a run of the machine ended.
#pragma once

#include <cstdint>
#include <string>

namespace kivos::emu {

struct RunResult {
    enum class End {
        exited,     // the guest called _exit; `status` holds its status
        returned,   // a call made from the host returned
        fault,      // the guest faulted; `message` is the one-line report
        limit,      // the instruction limit stopped it; `message` says so
        blocked,    // a call must wait; the guest stands on its int 0x80
        preempted,  // a resumed run used up its instructions
        deadlock,   // every process waits for another; `message` says which
    };
    End end;
    int32_t status = 0;
    std::string message;
};

}  // namespace kivos::emu
