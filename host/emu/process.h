// One kivos process: its machine (address space and registers), descriptor
// table, current folder, memory maps and streamed files, and the way it
// starts children with plain spawn. Its calls go to the shared Kernel.
#pragma once

#include <array>
#include <cstdint>

#include "emu/call_counts.h"
#include "emu/descriptors.h"
#include "emu/elf_image.h"
#include "emu/file_streams.h"
#include "emu/machine.h"
#include "emu/memory_maps.h"
#include "emu/sandbox.h"
#include "emu/trap.h"

namespace kivos::emu {

class Kernel;

// Which of the parent's descriptors become a child's 0, 1 and 2 (-1: none),
// and whether its others (3 and up) go along under their numbers.
struct ChildDescriptors {
    std::array<int32_t, 3> stdio = {0, 1, 2};
    bool inherit = false;
};

class Process final : public TrapHandler {
  public:
    Process(Kernel &kernel, uint32_t pid, const ElfImage &image, MachineOptions options,
            Sandbox sandbox, DescriptorTable descriptors);
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    uint32_t pid() const { return pid_; }
    Machine &machine() { return machine_; }
    const GuestMemory &memory() const { return machine_.memory(); }
    DescriptorTable &descriptors() { return descriptors_; }
    Sandbox &sandbox() { return sandbox_; }
    const Sandbox &sandbox() const { return sandbox_; }
    MemoryMaps &maps() { return maps_; }
    FileStreams &streams() { return streams_; }
    // What plain spawn gives a child; fd_set_stdio and fd_set_inherit change it.
    ChildDescriptors &spawn_defaults() { return spawn_defaults_; }

    // Traps made, for the statistics.
    void count_call(const SyscallInfo *call) { calls_.count(call); }
    const CallCounts &calls() const { return calls_; }

    TrapOutcome on_trap(const TrapFrame &frame) override;

  private:
    Kernel &kernel_;
    uint32_t pid_;
    DescriptorTable descriptors_;
    Sandbox sandbox_;
    MemoryMaps maps_;
    FileStreams streams_;
    ChildDescriptors spawn_defaults_;
    CallCounts calls_;
    Machine machine_;
};

}  // namespace kivos::emu
