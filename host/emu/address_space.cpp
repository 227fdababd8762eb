#include "emu/address_space.h"

#include "emu/errors.h"
#include "emu/layout.h"

namespace kivos::emu {
namespace {

// The top 4 MiB hold the page directory and then the page table of each 4 MiB
// of the address space below them; no page table entry leads there.
constexpr uint32_t kTables = 0xFFC00000;
constexpr uint32_t kEntriesPerTable = 1024;
constexpr uint32_t kPresent = 1u << 0;
constexpr uint32_t kWritable = 1u << 1;
constexpr uint32_t kUser = 1u << 2;
constexpr uint32_t kExecutable = 1u << 9;  // ignored by the CPU, kept for permissions()
constexpr uint64_t kPaging = 1u << 31;
constexpr uint64_t kWriteProtect = 1u << 16;  // read-only pages bind the kernel too
constexpr uint32_t kReadWrite = UC_PROT_READ | UC_PROT_WRITE;

// The page table of the `index`th 4 MiB, right after the page directory.
constexpr uint32_t table(uint32_t index) {
    return kTables + (index + 1) * layout::kPageSize;
}

void map_physical(const Engine &engine, uint32_t address, uint64_t size, uint32_t perms) {
    check(uc_mem_map_ptr(engine.get(), address, size, perms, engine.provide(address, size)),
          "mapping guest memory");
}

}  // namespace

AddressSpace::AddressSpace(const Engine &engine) : engine_(engine) {
    map_physical(engine_, kTables, Engine::kMemorySize - kTables, kReadWrite);
    // Every page table is in place from the start; an empty one reads as zeros,
    // no page present, and costs no host memory until written.
    auto *directory = reinterpret_cast<uint32_t *>(engine_.memory() + kTables);
    for (uint32_t index = 0; index < kTables / layout::kPageSize / kEntriesPerTable; ++index)
        directory[index] = table(index) | kPresent | kWritable | kUser;
    uint64_t base = kTables;
    check(uc_reg_write(engine_.get(), UC_X86_REG_CR3, &base), "setting the page directory");
    uint64_t control = 0;
    check(uc_reg_read(engine_.get(), UC_X86_REG_CR0, &control), "reading cr0");
    control |= kPaging | kWriteProtect;
    check(uc_reg_write(engine_.get(), UC_X86_REG_CR0, &control), "turning paging on");
}

uint32_t *AddressSpace::table_entry(uint32_t address) const {
    const uint32_t page = address / layout::kPageSize;
    return reinterpret_cast<uint32_t *>(engine_.memory() + table(page / kEntriesPerTable)) +
           page % kEntriesPerTable;
}

void AddressSpace::map(uint32_t address, uint32_t size, uint32_t perms) {
    const uint64_t end = uint64_t{address} + size;
    if (size == 0 || address % layout::kPageSize != 0 || size % layout::kPageSize != 0 ||
        end > kTables)
        throw MachineError("mapping guest memory: not whole pages below the page tables");
    for (uint64_t page = address; page < end; page += layout::kPageSize)
        if (permissions(static_cast<uint32_t>(page)) != 0)
            throw MachineError("mapping guest memory: already mapped");
    if (perms == 0) return;
    for (auto page = backing_.lower_bound(address); page != backing_.end() && *page < end;
         page = backing_.erase(page))
        check(uc_mem_unmap(engine_.get(), *page, layout::kPageSize), "mapping guest memory");
    map_physical(engine_, address, size, kReadWrite | (perms & UC_PROT_EXEC));
    uint32_t bits = kPresent | kUser;
    if (perms & UC_PROT_WRITE) bits |= kWritable;
    if (perms & UC_PROT_EXEC) bits |= kExecutable;
    for (uint64_t page = address; page < end; page += layout::kPageSize)
        *table_entry(static_cast<uint32_t>(page)) = static_cast<uint32_t>(page) | bits;
}

void AddressSpace::unmap(uint32_t address, uint32_t size) {
    const uint64_t end = uint64_t{address} + size;
    if (address % layout::kPageSize != 0 || size % layout::kPageSize != 0 || end > kTables)
        throw MachineError("unmapping guest memory: not whole pages below the page tables");
    for (uint64_t page = address; page < end;) {
        if (permissions(static_cast<uint32_t>(page)) == 0) {
            page += layout::kPageSize;
            continue;
        }
        const uint64_t first = page;
        for (; page < end && permissions(static_cast<uint32_t>(page)) != 0;
             page += layout::kPageSize)
            *table_entry(static_cast<uint32_t>(page)) = 0;
        check(uc_mem_unmap(engine_.get(), first, page - first), "unmapping guest memory");
        engine_.release(first, page - first);
    }
    // The CPU keeps the translations of pages it used; loading cr3 drops them.
    uint64_t base = kTables;
    check(uc_reg_write(engine_.get(), UC_X86_REG_CR3, &base), "reloading the page directory");
}

void AddressSpace::map_system_page(uint32_t address, std::string_view contents) {
    map_physical(engine_, address, layout::kPageSize, kReadWrite | UC_PROT_EXEC);
    check(uc_mem_write(engine_.get(), address, contents.data(), contents.size()),
          "filling a system page");
    *table_entry(address) = address | kPresent | kWritable;
}

uint32_t AddressSpace::permissions(uint32_t address) const {
    if (address >= kTables) return 0;
    const uint32_t entry = *table_entry(address);
    if ((entry & kPresent) == 0 || (entry & kUser) == 0) return 0;
    return UC_PROT_READ | (entry & kWritable ? UC_PROT_WRITE : 0) |
           (entry & kExecutable ? UC_PROT_EXEC : 0);
}

bool AddressSpace::back(uint32_t address) {
    const uint32_t page = layout::page_down(address);
    if (address >= kTables || (*table_entry(page) & kPresent) != 0 || backing_.contains(page))
        return false;
    map_physical(engine_, page, layout::kPageSize, kReadWrite);
    backing_.insert(page);
    return true;
}

}  // namespace kivos::emu
