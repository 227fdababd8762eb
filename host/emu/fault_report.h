// The one-line reports of guest faults, e.g.
// "guest fault: write to unmapped address 0x00000010 at eip 0x004010a3".
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <string>

namespace kivos::emu::fault_report {

std::string exception(uint32_t vector, uint32_t eip);
std::string memory(uc_mem_type type, uint64_t address, uint32_t eip);
std::string invalid_instruction(uint32_t eip);
std::string halt(uint32_t eip);
std::string stopped(uint32_t eip);
std::string limit(uint64_t instructions);

}  // namespace kivos::emu::fault_report
