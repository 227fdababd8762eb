// The kind of access behind a page fault. The guest CPU names the address and
// the exact instruction, not whether it read, wrote or fetched; the state it
// leaves is the one the instruction started from, so running the instruction
// once more with a hook on memory accesses shows the access.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>

namespace kivos::emu {

// Runs the instruction at `eip` again and returns the kind of its first data
// access that touches `address`: UC_MEM_READ or UC_MEM_WRITE, or UC_MEM_FETCH
// when there is none (the instruction itself could not be fetched). Only
// between runs, and the caller's interrupt hook must stop the engine at the
// page fault it meets again. Throws MachineError.
uc_mem_type faulting_access(uc_engine *engine, uint32_t eip, uint32_t address);

}  // namespace kivos::emu
