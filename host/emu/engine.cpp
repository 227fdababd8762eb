#include "emu/engine.h"

#include <sys/mman.h>

#include <string>

#include "emu/errors.h"

namespace kivos::emu {

void Engine::Unmap::operator()(uint8_t *memory) const {
    munmap(memory, kMemorySize);
}

Engine::Engine() {
    void *memory =
        mmap(nullptr, kMemorySize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED) throw MachineError("cannot reserve the guest's memory");
    memory_.reset(static_cast<uint8_t *>(memory));
    uc_engine *engine = nullptr;
    check(uc_open(UC_ARCH_X86, UC_MODE_32, &engine), "opening the x86 engine");
    engine_.reset(engine);
}

CpuState::CpuState(uc_engine *engine) : engine_(engine) {
    uc_context *context = nullptr;
    check(uc_context_alloc(engine_, &context), "allocating a cpu state");
    context_.reset(context);
    save();
}

void CpuState::save() {
    check(uc_context_save(engine_, context_.get()), "saving the cpu state");
}

void CpuState::restore() const {
    check(uc_context_restore(engine_, context_.get()), "restoring the cpu state");
}

uint8_t *Engine::provide(uint64_t address, uint64_t size) const {
    uint8_t *host = memory_.get() + address;
    if (mprotect(host, size, PROT_READ | PROT_WRITE) != 0)
        throw MachineError("cannot provide the guest's memory");
    return host;
}

void Engine::release(uint64_t address, uint64_t size) const {
    uint8_t *host = memory_.get() + address;
    if (madvise(host, size, MADV_DONTNEED) != 0 || mprotect(host, size, PROT_NONE) != 0)
        throw MachineError("cannot give back the guest's memory");
}

void check(uc_err error, std::string_view what) {
    if (error != UC_ERR_OK) throw MachineError(std::string(what) + ": " + uc_strerror(error));
}

void drop_translations(uc_engine *engine, uint32_t first, uint32_t last) {
    check(uc_ctl_remove_cache(engine, uint64_t{first}, uint64_t{last} + 1),
          "dropping translated code");
}

}  // namespace kivos::emu
