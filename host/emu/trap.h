// One int 0x80 as the machine hands it to whoever answers kivos calls.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace kivos::emu {

// eax and ebx..ebp at the trap.
struct TrapFrame {
    uint32_t number;
    std::array<uint32_t, 6> args;
};

struct TrapOutcome {
    int32_t result;                      // for eax
    std::optional<int32_t> exit_status;  // set when the guest called _exit
    // The call cannot complete yet: the guest stops on its int 0x80 and
    // makes the same call again when it next runs.
    bool blocked = false;
};

class TrapHandler {
  public:
    virtual TrapOutcome on_trap(const TrapFrame &frame) = 0;

  protected:
    ~TrapHandler() = default;
};

}  // namespace kivos::emu
