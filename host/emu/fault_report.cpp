#include "emu/fault_report.h"

#include <cstdio>

#include "emu/layout.h"

namespace kivos::emu::fault_report {
namespace {

std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value));
    return text;
}

std::string report(const std::string &what, uint32_t eip) {
    return "guest fault: " + what + " at eip " + hex(eip);
}

const char *vector_name(uint32_t vector) {
    switch (vector) {
        case 0:
            return "divide error";
        case 1:
            return "debug trap";
        case 3:
            return "breakpoint";
        case 4:
            return "overflow";
        case 5:
            return "bound range exceeded";
        case 6:
            return "invalid instruction";
        case 7:
            return "device not available";
        case 8:
            return "double fault";
        case 10:
            return "invalid task state";
        case 11:
            return "segment not present";
        case 12:
            return "stack fault";
        case 13:
            return "general protection fault";
        case 14:
            return "page fault";
        case 16:
            return "x87 floating-point error";
        case 17:
            return "alignment check";
        case 18:
            return "machine check";
        case 19:
            return "SIMD floating-point error";
        default:
            return nullptr;
    }
}

const char *access_name(uc_mem_type type) {
    switch (type) {
        case UC_MEM_READ_UNMAPPED:
            return "read from unmapped address ";
        case UC_MEM_WRITE_UNMAPPED:
            return "write to unmapped address ";
        case UC_MEM_FETCH_UNMAPPED:
            return "fetch from unmapped address ";
        case UC_MEM_READ_PROT:
            return "read from unreadable address ";
        case UC_MEM_WRITE_PROT:
            return "write to read-only address ";
        case UC_MEM_FETCH_PROT:
            return "fetch from non-executable address ";
        default:
            return "bad access to address ";
    }
}

// An access below the stack near where the stack pointer has got to: the
// program has used up its stack, typically by recursing without end.
bool overflows_stack(const Fault &fault) {
    constexpr uint32_t kReach = layout::kPageSize;
    return fault.address < layout::kStackBottom && fault.esp < layout::kStackBottom + kReach &&
           fault.address + kReach >= fault.esp;
}

}  // namespace

std::string describe(const Fault &fault) {
    switch (fault.kind) {
        case Fault::Kind::memory:
            if (overflows_stack(fault))
                return report("stack overflow: access to " + hex(fault.address) + " below the " +
                                  std::to_string(layout::kStackSize >> 10) + " KiB stack",
                              fault.eip);
            return report(access_name(fault.access) + hex(fault.address), fault.eip);
        case Fault::Kind::exception: {
            const char *name = vector_name(fault.vector);
            char other[24];
            std::snprintf(other, sizeof other, "interrupt 0x%02x", fault.vector);
            return report(name ? name : other, fault.eip);
        }
        case Fault::Kind::invalid_instruction:
            return report("invalid instruction", fault.eip);
        case Fault::Kind::unexplained:
            break;
    }
    return report("unexplained stop", fault.eip);
}

std::string limit(uint64_t instructions) {
    return "instruction limit of " + std::to_string(instructions) + " reached";
}

}  // namespace kivos::emu::fault_report
