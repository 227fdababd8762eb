#include "emu/user_mode.h"

#include <cstring>
#include <string>

#include "emu/engine.h"
#include "emu/errors.h"
#include "emu/layout.h"

namespace kivos::emu {
namespace {

// The last page below the page tables: no mapping of the guest reaches it, and
// its table entry is the kernel's, so the guest cannot touch it.
constexpr uint32_t kSystemPage = 0xFFBFF000;
constexpr uint32_t kIretAt = 0x100;
constexpr uint32_t kFrameAt = 0x200;

// Base 0, limit 4 GiB in pages, 32-bit, present, privilege 3, marked accessed
// so that loading them never writes the table.
constexpr uint64_t kUserCode = 0x00CFFB000000FFFF;  // execute and read
constexpr uint64_t kUserData = 0x00CFF3000000FFFF;  // read and write
// The iret reads its frame through the stack segment, which must be 32-bit.
constexpr uint64_t kKernelData = 0x00CF93000000FFFF;
constexpr uint32_t kUserCodeSelector = 1 << 3 | 3;
constexpr uint32_t kUserDataSelector = 2 << 3 | 3;
constexpr uint32_t kKernelDataSelector = 3 << 3;
constexpr uint32_t kEflags = 0x202;
constexpr uint8_t kIret = 0xCF;

template <typename T>
void put(std::string &page, uint32_t at, const T &value) {
    std::memcpy(page.data() + at, &value, sizeof value);
}

}  // namespace

// unicorn only loads a stack segment of the current privilege, so the CPU gets
// there as a kernel sends a process there: an iret from privilege level 0.
void enter_user_mode(uc_engine *engine, AddressSpace &space, uint32_t landing) {
    std::string page(layout::kPageSize, '\0');
    put(page, 8, kUserCode);
    put(page, 16, kUserData);
    put(page, 24, kKernelData);
    put(page, kIretAt, kIret);
    const uint32_t frame[] = {landing, kUserCodeSelector, kEflags, layout::kStackTop,
                              kUserDataSelector};
    put(page, kFrameAt, frame);
    space.map_system_page(kSystemPage, page);

    uc_x86_mmr table{0, kSystemPage, 4 * 8 - 1, 0};
    check(uc_reg_write(engine, UC_X86_REG_GDTR, &table), "setting the descriptor table");
    for (const int reg : {UC_X86_REG_DS, UC_X86_REG_ES, UC_X86_REG_FS, UC_X86_REG_GS})
        check(uc_reg_write(engine, reg, &kUserDataSelector), "loading a user segment");
    check(uc_reg_write(engine, UC_X86_REG_SS, &kKernelDataSelector), "loading the kernel stack");
    const uint32_t esp = kSystemPage + kFrameAt;
    check(uc_reg_write(engine, UC_X86_REG_ESP, &esp), "placing the privileged stack");
    check(uc_emu_start(engine, kSystemPage + kIretAt, landing, 0, 0), "entering user mode");
    uint32_t cs = 0;
    check(uc_reg_read(engine, UC_X86_REG_CS, &cs), "reading cs");
    if (cs != kUserCodeSelector) throw MachineError("the CPU did not enter user mode");
}

}  // namespace kivos::emu
