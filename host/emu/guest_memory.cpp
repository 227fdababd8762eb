#include "emu/guest_memory.h"

#include <kivos/abi.h>

#include <cstring>

#include "emu/layout.h"

namespace kivos::emu {

bool GuestMemory::accessible(uint32_t address, uint32_t size, uint32_t permission) const {
    const uint64_t end = uint64_t{address} + size;
    if (end > uint64_t{1} << 32) return false;
    for (uint64_t at = address; at < end;
         at = layout::page_down(static_cast<uint32_t>(at)) + uint64_t{layout::kPageSize}) {
        const uint32_t granted = space_.permissions(static_cast<uint32_t>(at));
        if (granted == 0 || (granted & permission) != permission) return false;
    }
    return true;
}

int32_t GuestMemory::read(uint32_t address, uint32_t size, std::string &out) const {
    if (!accessible(address, size, UC_PROT_READ)) return -KIVOS_EFAULT;
    out.resize(size);
    if (size != 0 && uc_mem_read(engine_, address, out.data(), size) != UC_ERR_OK)
        return -KIVOS_EFAULT;
    return 0;
}

int32_t GuestMemory::write(uint32_t address, std::string_view bytes) const {
    const auto size = static_cast<uint32_t>(bytes.size());
    if (bytes.size() != size || !accessible(address, size, UC_PROT_WRITE)) return -KIVOS_EFAULT;
    if (size == 0) return 0;
    if (uc_mem_write(engine_, address, bytes.data(), size) != UC_ERR_OK) return -KIVOS_EFAULT;
    wrote(address, size);
    return 0;
}

int32_t GuestMemory::patch(uint32_t address, std::string_view bytes) const {
    const auto size = static_cast<uint32_t>(bytes.size());
    if (bytes.size() != size || !accessible(address, size, 0)) return -KIVOS_EFAULT;
    if (size == 0) return 0;
    if (uc_mem_write(engine_, address, bytes.data(), size) != UC_ERR_OK ||
        uc_ctl_remove_cache(engine_, uint64_t{address}, uint64_t{address} + size) != UC_ERR_OK)
        return -KIVOS_EFAULT;
    wrote(address, size);
    return 0;
}

int32_t GuestMemory::read_string(uint32_t address, uint32_t limit, std::string &out) const {
    out.clear();
    // Page by page, so that a string ending just before an unmapped page reads fine.
    uint64_t at = address;
    while (out.size() <= limit) {
        const uint64_t page_end =
            uint64_t{layout::page_down(static_cast<uint32_t>(at))} + layout::kPageSize;
        std::string chunk;
        if (at >= uint64_t{1} << 32 ||
            read(static_cast<uint32_t>(at), static_cast<uint32_t>(page_end - at), chunk) != 0)
            return -KIVOS_EFAULT;
        const size_t nul = chunk.find('\0');
        out.append(chunk, 0, nul);
        if (nul != std::string::npos) return out.size() <= limit ? 0 : -KIVOS_ENAMETOOLONG;
        at = page_end;
    }
    return -KIVOS_ENAMETOOLONG;
}

}  // namespace kivos::emu
