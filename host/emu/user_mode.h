// A kivos command is a user program: the machine runs it at privilege level 3,
// on flat segments of user privilege, so that every instruction kept for the
// kernel (cli, in and out, control and debug registers, lidt, rdmsr, hlt ...)
// is the general protection fault it is on kivos.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>

#include "emu/address_space.h"

namespace kivos::emu {

// Leaves the CPU at privilege level 3 with eip at `landing`, which must be a
// mapped user page the guest may execute. Throws MachineError.
void enter_user_mode(uc_engine *engine, AddressSpace &space, uint32_t landing);

}  // namespace kivos::emu
