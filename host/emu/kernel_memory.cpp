// mmap and munmap: private memory placed page by page in the map area,
// anonymous and zeroed, or a read-only copy of a file.
#include <kivos/abi.h>
#include <unistd.h>

#include <cerrno>

#include "emu/kernel.h"
#include "emu/layout.h"
#include "emu/process.h"

namespace kivos::emu {
namespace {

constexpr uint32_t kProtections = KIVOS_PROT_READ | KIVOS_PROT_WRITE | KIVOS_PROT_EXEC;
static_assert(KIVOS_PROT_READ == UC_PROT_READ && KIVOS_PROT_WRITE == UC_PROT_WRITE &&
              KIVOS_PROT_EXEC == UC_PROT_EXEC);
// Every refusal of mmap answers MAP_FAILED, which is what C callers test for.
constexpr int32_t kMapFailed = KIVOS_MAP_FAILED;

struct MapRequest {
    uint32_t hint;
    uint32_t size;  // whole pages
    uint32_t protection;
    bool anonymous;
    int32_t fd;
    uint32_t offset;
};

bool acceptable(const MapRequest &request, uint32_t length, uint32_t flags) {
    return length != 0 && length <= MemoryMaps::kMostBytes &&
           (request.protection & ~kProtections) == 0 &&
           (flags & ~KIVOS_MAP_ANONYMOUS) == KIVOS_MAP_PRIVATE &&
           request.offset % layout::kPageSize == 0 &&
           // Copies of files are for reading.
           (request.anonymous || (request.protection & KIVOS_PROT_WRITE) == 0);
}

// The file's bytes from `offset` on, at most `size` of them; false on a host error.
bool read_file_at(int fd, uint32_t offset, uint32_t size, std::string &out) {
    out.resize(size);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, out.data() + done, size - done, offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    out.resize(done);
    return true;
}

// The first page of the range that is mapped, or the range's end.
uint64_t first_taken(const AddressSpace &space, const MemoryMaps &maps, uint64_t address,
                     uint64_t size) {
    for (uint64_t page = address; page < address + size; page += layout::kPageSize)
        if (space.permissions(static_cast<uint32_t>(page)) != 0 ||
            maps.contains(static_cast<uint32_t>(page)))
            return page;
    return address + size;
}

// The hint when the whole range is free in the map area, else the lowest free place.
std::optional<uint32_t> place_for(const MapRequest &request, const AddressSpace &space,
                                  const MemoryMaps &maps) {
    const uint64_t size = request.size;
    if (request.hint % layout::kPageSize == 0 && request.hint >= MemoryMaps::kBottom &&
        request.hint + size <= MemoryMaps::kTop &&
        first_taken(space, maps, request.hint, size) == request.hint + size)
        return request.hint;
    for (uint64_t at = MemoryMaps::kBottom; at + size <= MemoryMaps::kTop;) {
        const uint64_t taken = first_taken(space, maps, at, size);
        if (taken == at + size) return static_cast<uint32_t>(at);
        at = taken + layout::kPageSize;
    }
    return std::nullopt;
}

}  // namespace

int32_t Kernel::sys_mmap(const TrapFrame &frame, Process &process) {
    const uint32_t length = frame.args[1];
    const uint32_t flags = frame.args[3];
    const MapRequest request{frame.args[0],
                             static_cast<uint32_t>(layout::page_up(length)),
                             frame.args[2],
                             (flags & KIVOS_MAP_ANONYMOUS) != 0,
                             static_cast<int32_t>(frame.args[4]),
                             frame.args[5]};
    if (!acceptable(request, length, flags) || !process.maps().room_for(request.size))
        return kMapFailed;
    std::string contents;
    if (!request.anonymous) {
        const DescriptorTable::Entry *entry = process.descriptors().find(request.fd);
        if (entry == nullptr || entry->channel->host_file() < 0 ||
            !read_file_at(entry->channel->host_file(), request.offset, length, contents))
            return kMapFailed;
    }
    const std::optional<uint32_t> address =
        place_for(request, process.machine().address_space(), process.maps());
    if (!address) return kMapFailed;
    process.machine().map(*address, request.size, request.protection, contents);
    process.maps().add(*address, request.size);
    return static_cast<int32_t>(*address);
}

// Frees the pages of the range that mmap placed; a range that also covers the
// image or the stack is refused whole.
int32_t Kernel::sys_munmap(const TrapFrame &frame, Process &process) {
    const uint32_t address = frame.args[0];
    const uint64_t end = layout::page_up(uint64_t{address} + frame.args[1]);
    if (address % layout::kPageSize != 0 || frame.args[1] == 0 || end > uint64_t{1} << 32)
        return -KIVOS_EINVAL;
    const auto size = static_cast<uint32_t>(end - address);
    for (uint64_t page = address; page < end; page += layout::kPageSize)
        if (process.machine().address_space().permissions(static_cast<uint32_t>(page)) != 0 &&
            !process.maps().contains(static_cast<uint32_t>(page)))
            return -KIVOS_EINVAL;
    for (const auto &[start, run] : process.maps().remove(address, size))
        process.machine().unmap(start, run);
    return 0;
}

}  // namespace kivos::emu
