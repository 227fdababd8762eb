// Fixed places in a kivos process's address space.
#pragma once

#include <cstdint>

namespace kivos::emu::layout {

inline constexpr uint32_t kPageSize = 4096;

// Page 0 stays unmapped so that a touch through a null or small pointer faults.
inline constexpr uint32_t kLowestImageAddress = kPageSize;

inline constexpr uint32_t kStackTop = 0xC0000000;
inline constexpr uint32_t kStackSize = 1u << 20;
inline constexpr uint32_t kStackBottom = kStackTop - kStackSize;

// One read-and-execute page below the stack: the return address of calls made
// from the host, and a guard that stops a runaway stack with a fault.
inline constexpr uint32_t kReturnStub = kStackBottom - kPageSize;
// Inside the stub rather than at its start: unicorn 2.0.1 touches the page
// below the address a run stops at when that address starts a page.
inline constexpr uint32_t kReturnAddress = kReturnStub + 16;

// Images must stay below everything the machine places itself.
inline constexpr uint32_t kReservedBottom = kReturnStub;

constexpr uint32_t page_down(uint32_t address) {
    return address & ~(kPageSize - 1);
}
constexpr uint64_t page_up(uint64_t address) {
    return (address + kPageSize - 1) & ~uint64_t{kPageSize - 1};
}

}  // namespace kivos::emu::layout
