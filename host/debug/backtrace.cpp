#include "debug/backtrace.h"

#include <elfutils/libdw.h>

#include <array>
#include <cstring>
#include <string>

#include "debug/dwfl_image.h"

namespace kivos::debug {
namespace {

// i386 DWARF register numbers 0 to 8: eax ecx edx ebx esp ebp esi edi eip.
constexpr std::array kDwarfRegisters = {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX,
                                        UC_X86_REG_EBX, UC_X86_REG_ESP, UC_X86_REG_EBP,
                                        UC_X86_REG_ESI, UC_X86_REG_EDI, UC_X86_REG_EIP};

struct Walk {
    const emu::Machine &machine;
    size_t most;
    std::vector<Frame> frames;
};

// The machine is the only thread of its process.
pid_t next_thread(Dwfl *, void *walk, void **thread) {
    if (*thread != nullptr) return 0;
    *thread = walk;
    return 1;
}

bool read_word(Dwfl *, Dwarf_Addr address, Dwarf_Word *result, void *walk) {
    std::string bytes;
    if (address > UINT32_MAX - 3 || static_cast<Walk *>(walk)->machine.memory().read(
                                        static_cast<uint32_t>(address), 4, bytes) != 0)
        return false;
    uint32_t word = 0;
    std::memcpy(&word, bytes.data(), sizeof word);
    *result = word;
    return true;
}

bool initial_registers(Dwfl_Thread *thread, void *walk) {
    const emu::Machine &machine = static_cast<Walk *>(walk)->machine;
    std::array<Dwarf_Word, kDwarfRegisters.size()> values{};
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = machine.read_register(kDwarfRegisters[i]);
    dwfl_thread_state_register_pc(thread, values.back());
    return dwfl_thread_state_registers(thread, 0, static_cast<unsigned>(values.size()),
                                       values.data());
}

const Dwfl_Thread_Callbacks kCallbacks = {
    .next_thread = next_thread,
    .get_thread = nullptr,
    .memory_read = read_word,
    .set_initial_registers = initial_registers,
    .detach = nullptr,
    .thread_detach = nullptr,
};

int on_frame(Dwfl_Frame *state, void *arg) {
    Walk &walk = *static_cast<Walk *>(arg);
    Dwarf_Addr pc = 0;
    bool activation = false;
    // Code without frame information can send the unwinder astray: a frame
    // outside executable memory ends the walk.
    if (!dwfl_frame_pc(state, &pc, &activation) || pc > UINT32_MAX ||
        !walk.machine.memory().accessible(static_cast<uint32_t>(pc), 1, UC_PROT_EXEC))
        return DWARF_CB_ABORT;
    walk.frames.push_back({static_cast<uint32_t>(pc), !activation});
    return walk.frames.size() < walk.most ? DWARF_CB_OK : DWARF_CB_ABORT;
}

}  // namespace

std::vector<Frame> backtrace(const std::filesystem::path &image, const emu::Machine &machine,
                             size_t most) {
    Walk walk{machine, most, {}};
    if (most == 0) return {};
    const DwflImage dwfl(image);
    // Where the unwinder gives up (no frame information, a broken chain)
    // the frames found so far are the answer.
    if (dwfl_attach_state(dwfl.dwfl(), nullptr, 1, &kCallbacks, &walk))
        dwfl_getthread_frames(dwfl.dwfl(), 1, on_frame, &walk);
    if (walk.frames.empty()) walk.frames.push_back({machine.read_register(UC_X86_REG_EIP), false});
    return walk.frames;
}

}  // namespace kivos::debug
