// Something beside the machine that watches a program run: a debugger, a
// coverage counter. The machine hooks only what an observer asks for, so a
// run without observers pays nothing for them.
#pragma once

#include <cstdint>

#include "emu/run_result.h"

namespace kivos::emu {

class Machine;

class ExecutionObserver {
  public:
    struct Interest {
        bool blocks = false;
        bool instructions = false;
        bool accesses = false;
    };
    // Asked once, when the machine is built: hooks cannot be added later.
    virtual Interest interest() const = 0;

    // A translated block of `size` bytes at `address` is about to run.
    virtual void on_block(Machine &, uint32_t /*address*/, uint32_t /*size*/) {}
    // The instruction at `eip` is about to run; false ends the run before it
    // (RunResult::End::killed).
    virtual bool on_instruction(Machine &, uint32_t /*eip*/) { return true; }
    // An instruction is about to read (or write) `size` bytes at `address`.
    virtual void on_access(Machine &, bool /*write*/, uint32_t /*address*/, uint32_t /*size*/) {}
    // The run has ended; the machine still holds the registers and memory it ended with.
    virtual void on_end(Machine &, const RunResult &) {}

  protected:
    ~ExecutionObserver() = default;
};

}  // namespace kivos::emu
