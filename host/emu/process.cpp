#include "emu/process.h"

#include "emu/kernel.h"

namespace kivos::emu {

Process::Process(Kernel &kernel, uint32_t pid, const ElfImage &image, MachineOptions options,
                 Sandbox sandbox, DescriptorTable descriptors)
    : kernel_(kernel),
      pid_(pid),
      descriptors_(std::move(descriptors)),
      sandbox_(std::move(sandbox)),
      machine_(image, *this, options) {}

TrapOutcome Process::on_trap(const TrapFrame &frame) {
    return kernel_.trap(frame, *this);
}

}  // namespace kivos::emu
