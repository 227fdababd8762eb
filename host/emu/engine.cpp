#include "emu/engine.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>

#include "emu/errors.h"

namespace kivos::emu {

namespace {

// The host's mappings that are writable and executable, as [begin, end).
std::vector<std::pair<uintptr_t, uintptr_t>> writable_code_mappings() {
    std::vector<std::pair<uintptr_t, uintptr_t>> found;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        uintptr_t begin = 0, end = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &begin, &end, perms) == 3 &&
            std::string_view(perms, 3) == "rwx")
            found.emplace_back(begin, end);
    }
    return found;
}

}  // namespace

void Engine::Unmap::operator()(uint8_t *memory) const {
    munmap(memory, kMemorySize);
}

Engine::Engine() {
    void *memory =
        mmap(nullptr, kMemorySize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED) throw MachineError("cannot reserve the guest's memory");
    memory_.reset(static_cast<uint8_t *>(memory));
    const auto before = writable_code_mappings();
    uc_engine *engine = nullptr;
    check(uc_open(UC_ARCH_X86, UC_MODE_32, &engine), "opening the x86 engine");
    engine_.reset(engine);
    // The engine sets itself up, code buffer included, at its first use.
    uint32_t eax = 0;
    check(uc_reg_read(engine, UC_X86_REG_EAX, &eax), "starting the x86 engine");
    find_code_buffer(before);
}

void Engine::find_code_buffer(const std::vector<std::pair<uintptr_t, uintptr_t>> &before) {
    for (const auto &mapping : writable_code_mappings()) {
        if (std::find(before.begin(), before.end(), mapping) != before.end()) continue;
        if (code_end_ != 0) {
            code_begin_ = code_end_ = 0;
            return;
        }
        std::tie(code_begin_, code_end_) = mapping;
    }
}

// unicorn 2.0.1 never reuses the space of a translation it drops, and it drops
// the one before each exit at the end of every run: with exits inside hot
// code, the buffer fills after a few hundred thousand runs, and the engine
// then crashes at the end of the run in which it emptied the buffer itself.
// Emptied here, between runs, it carries on. The engine writes all of its
// buffer as it empties it, so all but the first 2 MiB, where it keeps code of
// its own, is given back. Translations fill the buffer from its start, so
// whether the page in the middle is in memory tells whether half is used.
void Engine::keep_room_for_translations() const {
    if (code_end_ == 0) return;
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t middle = (code_begin_ + (code_end_ - code_begin_) / 2) & ~(page - 1);
    unsigned char resident = 0;
    if (mincore(reinterpret_cast<void *>(middle), page, &resident) != 0 || (resident & 1) == 0)
        return;
    check(uc_ctl_flush_tlb(engine_.get()), "emptying the translated code");
    constexpr uintptr_t kKept = uintptr_t{2} << 20;
    if (madvise(reinterpret_cast<void *>(code_begin_ + kKept), code_end_ - code_begin_ - kKept,
                MADV_DONTNEED) != 0)
        throw MachineError("cannot give back the translated code");
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
