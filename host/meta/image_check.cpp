#include "meta/image_check.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "emu/layout.h"
#include "meta/records.h"

namespace kivos::meta {
namespace {

using emu::ElfFile;
using emu::ElfProgramHeader;
using emu::ElfSection;
using Problems = std::vector<std::string>;

std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

uint64_t align_up(uint64_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

uint64_t end_of(const ElfSection &section) {
    return uint64_t{section.addr} + section.size;
}

// A section's name as the file has it, quoted when it holds bytes a terminal would act on.
std::string shown(const std::string &name) {
    const bool plain =
        std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
    return plain ? name : quoted({reinterpret_cast<const uint8_t *>(name.data()), name.size()});
}

std::string span_text(const ElfSection &section) {
    return shown(section.name) + " [" + hex(section.addr) + ", " + hex(end_of(section)) + ")";
}

std::string section_flags_text(uint32_t flags) {
    std::string text;
    if (flags & SHF_ALLOC) text += "alloc";
    if (flags & SHF_WRITE) text += text.empty() ? "write" : ", write";
    if (flags & SHF_EXECINSTR) text += text.empty() ? "exec" : ", exec";
    return text.empty() ? "none" : text;
}

std::string segment_flags_text(uint32_t flags) {
    std::string text;
    if (flags & PF_R) text += 'R';
    if (flags & PF_W) text += 'W';
    if (flags & PF_X) text += 'X';
    return text.empty() ? "none" : text;
}

std::string section_type_text(uint32_t type) {
    switch (type) {
        case SHT_PROGBITS:
            return "PROGBITS";
        case SHT_NOBITS:
            return "NOBITS";
        case SHT_INIT_ARRAY:
            return "INIT_ARRAY";
        default:
            return std::to_string(type);
    }
}

std::string program_header_type_text(uint32_t type) {
    switch (type) {
        case PT_INTERP:
            return "PT_INTERP (a program interpreter)";
        case PT_DYNAMIC:
            return "PT_DYNAMIC (dynamic linking)";
        case PT_TLS:
            return "PT_TLS (thread-local storage)";
        default:
            return hex(type);
    }
}

// The place of a section in the layout's order; none for a section the layout lacks.
std::optional<size_t> layout_rank(const std::string &name) {
    for (size_t i = 0; i < kCommandLayout.size(); ++i)
        if (kCommandLayout[i].name == name) return i;
    return std::nullopt;
}

void check_header(const ElfFile &elf, Problems &problems) {
    if (elf.os_abi() != ELFOSABI_SYSV)
        problems.push_back("ELF OS/ABI is " + std::to_string(elf.os_abi()) + ", not 0 (System V)");
    if (elf.type() != ET_EXEC)
        problems.push_back("ELF type is " + std::to_string(elf.type()) + ", not an executable (2)");
    if (elf.machine() != EM_386)
        problems.push_back("ELF machine is " + std::to_string(elf.machine()) +
                           ", not Intel 80386 (3)");
    if (elf.version() != EV_CURRENT)
        problems.push_back("ELF version is " + std::to_string(elf.version()) + ", not 1");
    if (elf.entry() != kTextAddress)
        problems.push_back("entry point is " + hex(elf.entry()) + ", not the start of .text (" +
                           hex(kTextAddress) + ")");
    const auto start = elf.symbol("_start");
    if (start && start->value != elf.entry())
        problems.push_back("_start is at " + hex(start->value) + ", not at the entry point " +
                           hex(elf.entry()));
}

void check_section(const ElfSection &section, const SectionRule &rule, uint64_t expected,
                   Problems &problems) {
    const std::string name(rule.name);
    if (section.addr != expected)
        problems.push_back(name + " is at " + hex(section.addr) + ", expected " + hex(expected));
    if (section.addralign != rule.alignment)
        problems.push_back(name + " is aligned to " + std::to_string(section.addralign) +
                           ", expected " + std::to_string(rule.alignment));
    if ((section.flags & kPermissionFlags) != rule.permissions)
        problems.push_back(name + " has flags " + section_flags_text(section.flags) +
                           ", expected " + section_flags_text(rule.permissions));
    if (section.type != rule.type)
        problems.push_back(name + " has type " + section_type_text(section.type) + ", expected " +
                           section_type_text(rule.type));
}

// Each section where the link layout puts it: a damaged one is reported once,
// and the sections after it are measured from where it belongs.
void check_section_places(const ElfFile &elf, Problems &problems) {
    uint64_t cursor = kTextAddress;
    for (const SectionRule &rule : kCommandLayout) {
        cursor = rule.fixed_address != 0
                     ? std::max<uint64_t>(rule.fixed_address, align_up(cursor, kPage))
                     : align_up(cursor, rule.alignment);
        const ElfSection *section = elf.section(rule.name);
        if (section == nullptr) {
            if (rule.required) problems.push_back(std::string(rule.name) + " is missing");
            continue;
        }
        check_section(*section, rule, cursor, problems);
        cursor += section->size;
    }
}

void check_section_names(const ElfFile &elf, Problems &problems) {
    for (const SectionRule &rule : kCommandLayout) {
        const auto count = std::count_if(elf.sections().begin(), elf.sections().end(),
                                         [&](const ElfSection &s) { return s.name == rule.name; });
        if (count > 1)
            problems.push_back(std::string(rule.name) + " appears " + std::to_string(count) +
                               " times");
    }
    for (const ElfSection &section : elf.sections())
        if ((section.flags & SHF_ALLOC) && !layout_rank(section.name))
            problems.push_back(shown(section.name) + " is loaded but no kivos command has it");
}

// Address order as the layout lists it, no overlap, and below the machine's own area.
void check_section_order(const ElfFile &elf, Problems &problems) {
    std::vector<const ElfSection *> loaded;
    for (const ElfSection &section : elf.sections())
        if ((section.flags & SHF_ALLOC) && section.size > 0) loaded.push_back(&section);
    std::stable_sort(loaded.begin(), loaded.end(),
                     [](const ElfSection *a, const ElfSection *b) { return a->addr < b->addr; });
    for (size_t i = 0; i + 1 < loaded.size(); ++i) {
        const ElfSection &low = *loaded[i];
        const ElfSection &high = *loaded[i + 1];
        if (end_of(low) > high.addr)
            problems.push_back(span_text(low) + " overlaps " + span_text(high));
        const auto low_rank = layout_rank(low.name), high_rank = layout_rank(high.name);
        if (low_rank && high_rank && *low_rank > *high_rank)
            problems.push_back(shown(low.name) + " lies below " + shown(high.name) +
                               ", out of order");
    }
    if (!loaded.empty() && end_of(*loaded.back()) > emu::layout::kReservedBottom)
        problems.push_back(span_text(*loaded.back()) + " reaches the machine's stack area at " +
                           hex(emu::layout::kReservedBottom));
}

// The sections a loadable segment must carry, in layout order.
std::vector<const ElfSection *> sections_of(const ElfFile &elf, LoadSegment segment) {
    std::vector<const ElfSection *> sections;
    for (const SectionRule &rule : kCommandLayout)
        if (rule.segment == segment)
            if (const ElfSection *section = elf.section(rule.name)) sections.push_back(section);
    return sections;
}

void check_segment_bounds(const ElfFile &elf, const ElfProgramHeader &header,
                          const std::string &name, Problems &problems) {
    if (header.align != kPage)
        problems.push_back(name + " is aligned to " + std::to_string(header.align) + ", expected " +
                           std::to_string(kPage));
    if (header.vaddr % kPage != 0 || header.offset % kPage != 0)
        problems.push_back(name + " does not start on a page: address " + hex(header.vaddr) +
                           ", file offset " + hex(header.offset));
    if (header.filesz > header.memsz)
        problems.push_back(name + " has more file bytes (" + std::to_string(header.filesz) +
                           ") than memory (" + std::to_string(header.memsz) + ")");
    if (uint64_t{header.offset} + header.filesz > elf.size())
        problems.push_back(name + " runs past the end of the file");
}

// The segment covers exactly its sections, and maps each one's file bytes to its address.
void check_segment_cover(const ElfProgramHeader &header,
                         const std::vector<const ElfSection *> &sections, const std::string &name,
                         Problems &problems) {
    uint32_t start = sections.front()->addr;
    uint64_t end = 0, file_end = 0;
    for (const ElfSection *section : sections) {
        start = std::min(start, section->addr);
        end = std::max(end, end_of(*section));
        if (section->type != SHT_NOBITS) file_end = std::max(file_end, end_of(*section));
    }
    file_end = std::max<uint64_t>(file_end, start);
    if (header.vaddr != start || header.memsz != end - start || header.filesz != file_end - start)
        problems.push_back(name + " spans [" + hex(header.vaddr) + ", " +
                           hex(uint64_t{header.vaddr} + header.memsz) + ") with " +
                           std::to_string(header.filesz) + " file bytes; its sections need [" +
                           hex(start) + ", " + hex(end) + ") with " +
                           std::to_string(file_end - start));
    for (const ElfSection *section : sections) {
        if (section->type == SHT_NOBITS || section->addr < header.vaddr) continue;
        const uint64_t mapped = uint64_t{header.offset} + (section->addr - header.vaddr);
        if (section->offset != mapped)
            problems.push_back(shown(section->name) + " lies at file offset " +
                               hex(section->offset) + ", but the " + name +
                               " loads its address from " + hex(mapped));
    }
}

void check_segments(const ElfFile &elf, Problems &problems) {
    std::vector<const ElfProgramHeader *> loads;
    for (const ElfProgramHeader &header : elf.program_headers()) {
        if (header.type == PT_LOAD)
            loads.push_back(&header);
        else if (header.type != PT_GNU_STACK)
            problems.push_back("program header of type " + program_header_type_text(header.type) +
                               ", which no kivos command has");
    }
    if (loads.size() != kLoadSegments.size())
        problems.push_back(std::to_string(loads.size()) + " loadable segments, expected " +
                           std::to_string(kLoadSegments.size()) + " (text, read-only data, data)");
    for (size_t i = 0; i < std::min(loads.size(), kLoadSegments.size()); ++i) {
        const ElfProgramHeader &header = *loads[i];
        const std::string name(kLoadSegments[i].name);
        if (header.flags != kLoadSegments[i].flags)
            problems.push_back(name + " has flags " + segment_flags_text(header.flags) +
                               ", expected " + segment_flags_text(kLoadSegments[i].flags));
        const auto sections = sections_of(elf, static_cast<LoadSegment>(i));
        if (!sections.empty()) {
            check_segment_bounds(elf, header, name, problems);
            check_segment_cover(header, sections, name, problems);
        } else if (header.memsz != 0) {
            // A command without data still gets the header, empty; it must stay so.
            problems.push_back(name + " holds " + std::to_string(header.memsz) +
                               " bytes, but the image has no section for it");
        }
    }
}

void check_stack_header(const ElfFile &elf, Problems &problems) {
    std::vector<const ElfProgramHeader *> stacks;
    for (const ElfProgramHeader &header : elf.program_headers())
        if (header.type == PT_GNU_STACK) stacks.push_back(&header);
    if (stacks.size() != 1) {
        problems.push_back(std::to_string(stacks.size()) + " GNU_STACK headers, expected 1");
        return;
    }
    if (stacks.front()->flags != kStackFlags)
        problems.push_back("GNU_STACK has flags " + segment_flags_text(stacks.front()->flags) +
                           ", expected " + segment_flags_text(kStackFlags) +
                           ": nothing runs from the stack");
}

}  // namespace

std::vector<std::string> check_image(const ElfFile &elf) {
    Problems problems;
    check_header(elf, problems);
    check_section_names(elf, problems);
    check_section_places(elf, problems);
    check_section_order(elf, problems);
    check_segments(elf, problems);
    check_stack_header(elf, problems);
    for (std::string &problem : read_meta(elf).problems) problems.push_back(std::move(problem));
    return problems;
}

}  // namespace kivos::meta
