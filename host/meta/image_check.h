// The shape of a kivos command image, and a check of an image against it.
//
// Sections start at fixed addresses when the section before ends below them
// and otherwise at the next 4096-byte boundary (commands/command.ld.in places a
// larger command this way); the record sections follow .rodata at their own
// alignment, and the constructors, if any, follow .data. Three loadable
// segments carry them: text (read, execute), the read-only data with both
// records (read), data, constructors and bss (read, write); a GNU_STACK
// header keeps the stack readable and writable, not executable.
#pragma once

#include <elf.h>
#include <kivos/abi.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "emu/elf_file.h"

namespace kivos::meta {

inline constexpr uint32_t kPage = 4096;
inline constexpr uint32_t kTextAddress = 0x400000;
// The section flags that decide what a section may be used for.
inline constexpr uint32_t kPermissionFlags = SHF_ALLOC | SHF_WRITE | SHF_EXECINSTR;

enum class LoadSegment : uint8_t { text, read_only, data };

struct SectionRule {
    std::string_view name;
    uint32_t fixed_address;  // 0: follows the section before, at its own alignment
    uint32_t alignment;
    uint32_t permissions;
    uint32_t type;
    bool required;  // the record sections are the record reader's to miss
    LoadSegment segment;
};

inline constexpr std::array<SectionRule, 7> kCommandLayout = {{
    {".text", kTextAddress, kPage, SHF_ALLOC | SHF_EXECINSTR, SHT_PROGBITS, true,
     LoadSegment::text},
    {".rodata", 0x405000, kPage, SHF_ALLOC, SHT_PROGBITS, false, LoadSegment::read_only},
    {KIVOS_COMMAND_SECTION, 0, KIVOS_COMMAND_ALIGNMENT, SHF_ALLOC, SHT_PROGBITS, false,
     LoadSegment::read_only},
    {KIVOS_PACKAGE_SECTION, 0, KIVOS_PACKAGE_ALIGNMENT, SHF_ALLOC, SHT_PROGBITS, false,
     LoadSegment::read_only},
    {".data", 0x406000, kPage, SHF_ALLOC | SHF_WRITE, SHT_PROGBITS, false, LoadSegment::data},
    // Only in images with constructors.
    {".init_array", 0, 4, SHF_ALLOC | SHF_WRITE, SHT_INIT_ARRAY, false, LoadSegment::data},
    {".bss", 0x407000, kPage, SHF_ALLOC | SHF_WRITE, SHT_NOBITS, false, LoadSegment::data},
}};

struct SegmentRule {
    std::string_view name;
    uint32_t flags;
};

inline constexpr std::array<SegmentRule, 3> kLoadSegments = {{
    {"text segment", PF_R | PF_X},
    {"read-only segment", PF_R},
    {"data segment", PF_R | PF_W},
}};
inline constexpr uint32_t kStackFlags = PF_R | PF_W;

// Every way the image departs from the layout or the record format, one
// sentence each; empty for a well-formed command.
std::vector<std::string> check_image(const emu::ElfFile &elf);

}  // namespace kivos::meta
