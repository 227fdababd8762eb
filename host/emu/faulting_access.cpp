#include "emu/faulting_access.h"

#include "emu/engine.h"

namespace kivos::emu {
namespace {

struct Watch {
    uint32_t address;
    uc_mem_type seen = UC_MEM_FETCH;
};

void on_access(uc_engine *, uc_mem_type type, uint64_t address, int size, int64_t, void *data) {
    Watch &watch = *static_cast<Watch *>(data);
    if (watch.seen == UC_MEM_FETCH && address <= watch.address &&
        watch.address - address < static_cast<uint64_t>(size))
        watch.seen = type;
}

}  // namespace

uc_mem_type faulting_access(uc_engine *engine, uint32_t eip, uint32_t address) {
    Watch watch{address};
    uc_hook hook;
    check(uc_hook_add(engine, &hook, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE,
                      reinterpret_cast<void *>(&on_access), &watch, 1, 0),
          "hooking memory accesses");
    // Code translated before the hook existed would not call it, and code
    // translated while it did would keep taking the slow path after.
    drop_translations(engine, eip, eip);
    const uc_err error = uc_emu_start(engine, eip, 0, 0, 0);
    check(uc_hook_del(engine, hook), "unhooking memory accesses");
    drop_translations(engine, eip, eip);
    check(error, "running a faulting instruction again");
    return watch.seen;
}

}  // namespace kivos::emu
