#include "emu/elf_image.h"

#include <elf.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "emu/errors.h"
#include "emu/layout.h"

namespace kivos::emu {
namespace {

// No kivos program comes near this; a larger segment is a damaged header.
constexpr uint32_t kLargestSegment = 256u << 20;

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

std::string segment_name(size_t index) {
    return "segment " + std::to_string(index);
}

}  // namespace

ElfImage::ElfImage(ElfFile file) : file_(std::move(file)) {
    check_kind();
    collect_segments();
    check_placement();
}

ElfImage ElfImage::load(const std::filesystem::path &path) {
    return ElfImage(ElfFile::read(path));
}

std::span<const uint8_t> ElfImage::contents(const Segment &segment) const {
    return file_.bytes(segment.offset, segment.filesz);
}

void ElfImage::check_kind() const {
    if (file_.machine() != EM_386)
        throw ImageError("not an i386 image (ELF machine " + std::to_string(file_.machine()) + ")");
    if (file_.type() != ET_EXEC)
        throw ImageError("not a static executable (ELF type " + std::to_string(file_.type()) + ")");
    for (const ElfProgramHeader &header : file_.program_headers()) {
        if (header.type == PT_INTERP)
            throw ImageError("dynamically linked: has a program interpreter");
        if (header.type == PT_DYNAMIC)
            throw ImageError("dynamically linked: has a dynamic section");
    }
}

void ElfImage::collect_segments() {
    const auto &headers = file_.program_headers();
    for (size_t i = 0; i < headers.size(); ++i) {
        const ElfProgramHeader &header = headers[i];
        if (header.type != PT_LOAD || header.memsz == 0) continue;
        if (uint64_t{header.offset} + header.filesz > file_.size())
            throw ImageError(segment_name(i) + " lies outside the file");
        if (header.filesz > header.memsz)
            throw ImageError(segment_name(i) + " has more file bytes than memory");
        if (header.memsz > kLargestSegment)
            throw ImageError(segment_name(i) + " is absurdly large (" +
                             std::to_string(header.memsz) + " bytes)");
        segments_.push_back({
            .vaddr = header.vaddr,
            .memsz = header.memsz,
            .filesz = header.filesz,
            .offset = header.offset,
            .readable = (header.flags & PF_R) != 0,
            .writable = (header.flags & PF_W) != 0,
            .executable = (header.flags & PF_X) != 0,
        });
    }
    if (segments_.empty()) throw ImageError("no loadable segment");
}

void ElfImage::check_placement() const {
    std::vector<Segment> sorted = segments_;
    std::sort(sorted.begin(), sorted.end(),
              [](const Segment &a, const Segment &b) { return a.vaddr < b.vaddr; });
    for (size_t i = 0; i < sorted.size(); ++i) {
        const Segment &segment = sorted[i];
        const uint64_t end = uint64_t{segment.vaddr} + segment.memsz;
        const std::string where = "segment at " + hex(segment.vaddr);
        if (segment.vaddr < layout::kLowestImageAddress)
            throw ImageError(where + " touches page 0");
        if (end > layout::kReservedBottom)
            throw ImageError(where + " reaches the stack area (" + hex(layout::kReservedBottom) +
                             " and above)");
        if (i + 1 < sorted.size() && end > sorted[i + 1].vaddr)
            throw ImageError(where + " overlaps the segment at " + hex(sorted[i + 1].vaddr));
    }
    const bool entry_runs = std::any_of(sorted.begin(), sorted.end(), [&](const Segment &s) {
        return s.executable && entry() >= s.vaddr && entry() - s.vaddr < s.memsz;
    });
    if (!entry_runs)
        throw ImageError("entry point " + hex(entry()) + " is not in an executable segment");
}

}  // namespace kivos::emu
