// The only way the kernel touches guest memory. Every access is checked
// against the guest's mappings and their permissions first, so a bad guest
// pointer becomes -EFAULT for the guest and never a fault in the host.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "emu/address_space.h"

namespace kivos::emu {

class GuestMemory {
  public:
    GuestMemory(uc_engine *engine, const AddressSpace &space) : engine_(engine), space_(space) {}

    // Each returns 0 or a negated kivos error number (EFAULT for a bad address).
    int32_t read(uint32_t address, uint32_t size, std::string &out) const;
    int32_t write(uint32_t address, std::string_view bytes) const;
    // A NUL-terminated string of at most `limit` bytes before its NUL;
    // a longer one is ENAMETOOLONG.
    int32_t read_string(uint32_t address, uint32_t limit, std::string &out) const;

    // Writes mapped memory whatever its protection, as a debugger does; code
    // the engine translated from those bytes is dropped. 0 or -EFAULT.
    int32_t patch(uint32_t address, std::string_view bytes) const;

    // True when all of [address, address + size) is mapped with `permission`
    // (UC_PROT_READ or UC_PROT_WRITE; 0 asks only that it be mapped).
    bool accessible(uint32_t address, uint32_t size, uint32_t permission) const;

    // `written` hears of every range write() and patch() changed, after the change.
    void tell_writes(std::function<void(uint32_t address, uint32_t size)> written) {
        written_ = std::move(written);
    }

  private:
    void wrote(uint32_t address, uint32_t size) const {
        if (written_) written_(address, size);
    }

    uc_engine *engine_;
    const AddressSpace &space_;
    std::function<void(uint32_t, uint32_t)> written_;
};

}  // namespace kivos::emu
