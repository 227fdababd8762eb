// Ownership of one unicorn engine and of the host memory behind the guest's
// physical memory. Each engine reserves a large block of address space for
// translated code, and the guest's memory 4 GiB more (committed only where
// made usable), so both go as soon as their owner.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace kivos::emu {

class Engine {
  public:
    // The 32-bit guest's whole physical address space.
    static constexpr uint64_t kMemorySize = uint64_t{1} << 32;

    Engine();  // a 32-bit x86 engine; throws MachineError
    uc_engine *get() const { return engine_.get(); }
    // Guest physical address 0; no byte of it is usable until provided.
    uint8_t *memory() const { return memory_.get(); }
    // Makes the host memory behind guest physical [address, address + size)
    // usable, zero-filled, and returns it. Throws MachineError.
    uint8_t *provide(uint64_t address, uint64_t size) const;
    // Gives the host memory behind [address, address + size) back; it reads
    // as zeros when provided again.
    void release(uint64_t address, uint64_t size) const;
    // Throws the translated code away when it fills half the engine's code
    // buffer. Call between runs only.
    void keep_room_for_translations() const;

  private:
    void find_code_buffer(const std::vector<std::pair<uintptr_t, uintptr_t>> &before);

    struct Unmap {
        void operator()(uint8_t *memory) const;
    };
    struct Close {
        void operator()(uc_engine *engine) const { uc_close(engine); }
    };
    std::unique_ptr<uint8_t, Unmap> memory_;  // outlives the engine that uses it
    std::unique_ptr<uc_engine, Close> engine_;
    // Where the engine translates code to: its one mapping both writable and
    // executable. Empty when it could not be told apart.
    uintptr_t code_begin_ = 0, code_end_ = 0;
};

// A saved state of an engine's CPU.
class CpuState {
  public:
    explicit CpuState(uc_engine *engine);  // saves the state now; throws MachineError
    void save();
    void restore() const;

  private:
    struct Free {
        void operator()(uc_context *context) const { uc_context_free(context); }
    };
    uc_engine *engine_;
    std::unique_ptr<uc_context, Free> context_;
};

// Throws MachineError naming `what` when unicorn reports an error.
void check(uc_err error, std::string_view what);

// Drops the code translated from guest addresses `first` to `last`: translated
// code keeps the hooks that existed when it was translated.
void drop_translations(uc_engine *engine, uint32_t first, uint32_t last);

}  // namespace kivos::emu
