// Reading the records and checking the layout of kivos images, on the images
// we build and on damaged copies of them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <elf.h>

#include <cstddef>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "emu/elf_file.h"
#include "emu/errors.h"
#include "meta/image_check.h"
#include "meta/records.h"

namespace kivos::test {
namespace {

using emu::ElfFile;
using testing::HasSubstr;
using testing::IsEmpty;
using Bytes = std::vector<uint8_t>;
using namespace std::string_literals;

Bytes file_bytes(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::span<const uint8_t> as_bytes(const std::string &text) {
    return {reinterpret_cast<const uint8_t *>(text.data()), text.size()};
}

uint32_t get32(const Bytes &bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t{bytes[at + 3]} << 24;
}

void put32(Bytes &bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Where a field of a named section's header, or of the Nth program header, sits in the file.
size_t section_field(const Bytes &bytes, const char *name, size_t field) {
    const ElfFile elf(bytes);
    for (size_t i = 0; i < elf.sections().size(); ++i)
        if (elf.sections()[i].name == name)
            return get32(bytes, offsetof(Elf32_Ehdr, e_shoff)) + i * sizeof(Elf32_Shdr) + field;
    throw std::runtime_error(std::string("no section ") + name);
}

size_t program_field(const Bytes &bytes, size_t index, size_t field) {
    return get32(bytes, offsetof(Elf32_Ehdr, e_phoff)) + index * sizeof(Elf32_Phdr) + field;
}

// The file offset of byte `at` of a named section's contents.
size_t contents_at(const Bytes &bytes, const char *name, size_t at) {
    return get32(bytes, section_field(bytes, name, offsetof(Elf32_Shdr, sh_offset))) + at;
}

TEST(Records, ReadsWhatTheBytesHoldAndNamesEachFault) {
    struct Case {
        std::string bytes;
        const meta::RecordKind &kind;
        std::string first, second;  // expected strings, when readable
        std::string problem;        // a part of the one expected problem, or none
    };
    const meta::RecordKind &cmd = meta::kCommandRecord;
    const meta::RecordKind &pkg = meta::kPackageRecord;
    const std::vector<Case> cases = {
        {"KCMD\1\0\0\0abcd\0ef\0"s, cmd, "abcd", "ef", ""},  // no fill needed
        {"KCMD\1\0\0\0\0x\0\0"s, cmd, "", "x", ""},          // an empty description is fine
        {"KPKG\1\0\0\0a\0\0\0"s, pkg, "a", "", ""},          // and so is an empty tag
        {"KCMD\1\0\0"s, cmd, "", "", "holds 7 bytes, less than the 8-byte record header"},
        {"KCMX\1\0\0\0abcd\0ef\0"s, cmd, "abcd", "ef", "magic is \"KCMX\", not \"KCMD\""},
        {"KPKG\1\0\0\0abcd\0ef\0"s, cmd, "abcd", "ef", "magic is \"KPKG\", not \"KCMD\""},
        {"\0CMD\1\0\0\0abcd\0ef\0"s, cmd, "abcd", "ef", "magic is \"\\x00CMD\""},
        {"KCMD\0\0\0\1abcd\0ef\0"s, cmd, "abcd", "ef", "record version is 16777216, not 1"},
        {"KCMD\1\0\0\0abcdef"s, cmd, "", "",
         "description at offset 8 runs off the end of the section without its NUL"},
        {"KCMD\1\0\0\0ab\0cdef"s, cmd, "", "",
         "command name at offset 11 runs off the end of the section without its NUL"},
        {"KCMD\1\0\0\0ab\0c\0"s, cmd, "ab", "c",
         "the record needs 16 bytes with its zero fill; the section holds 13"},
        {"KCMD\1\0\0\0ab\0c\0\0\7\0"s, cmd, "ab", "c", "fill byte at offset 14 is 0x07, not 0"},
        {"KCMD\1\0\0\0abcd\0ef\0KCMD\1\0\0\0abcd\0ef\0"s, cmd, "abcd", "ef",
         "a second record at offset 16: the section holds exactly one"},
        {"KCMD\1\0\0\0abcd\0ef\0\0\0\0\0"s, cmd, "abcd", "ef",
         "4 stray bytes after the record, which ends at offset 16"},
        {"KCMD\1\0\0\0ab\0\0"s, cmd, "ab", "", "command name is empty"},
        {"KPKG\1\0\0\0\0x\0\0"s, pkg, "", "x", "package name is empty"},
        {"KCMD\1\0\0\0a\tb\0cd\0\0"s, cmd, "a\tb", "cd",
         "description \"a\\x09b\" has the byte 0x09, not printable ASCII"},
        {"KPKG\1\0\0\0p\0\xe9t\xe9\0\0\0"s, pkg, "p", "\xe9t\xe9",
         "tag \"\\xe9t\\xe9\" has the byte 0xe9, not printable ASCII"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        const meta::RecordReading reading = meta::read_record(as_bytes(c.bytes), c.kind);
        ASSERT_EQ(reading.problems.size(), c.problem.empty() ? 0u : 1u)
            << testing::PrintToString(reading.problems);
        if (!c.problem.empty()) {
            EXPECT_THAT(reading.problems[0], HasSubstr(c.problem));
        }
        const bool unreadable = c.first.empty() && c.second.empty() && !c.problem.empty();
        ASSERT_EQ(reading.strings.has_value(), !unreadable);
        if (unreadable) continue;
        EXPECT_EQ(reading.strings->first, c.first);
        EXPECT_EQ(reading.strings->second, c.second);
    }
}

TEST(Meta, ReadsRamForecastExactly) {
    const meta::MetaReading reading = meta::read_meta(ElfFile::read(KIVOS_RAM_FORECAST));
    EXPECT_THAT(reading.problems, IsEmpty());
    EXPECT_EQ(reading.meta.name, "ram_forecast");
    EXPECT_EQ(reading.meta.description, "Show predictive memory statistics");
    EXPECT_EQ(reading.meta.package, "ram_forecast");
    EXPECT_EQ(reading.meta.tag, "3");
}

TEST(ImageCheck, ReportsEachFaultOfADamagedCopy) {
    const Bytes original = file_bytes(KIVOS_RAM_FORECAST);
    const auto sh = [&](const char *name, size_t field) {
        return section_field(original, name, field);
    };
    const auto ph = [&](size_t index, size_t field) {
        return program_field(original, index, field);
    };
    const auto add = [](size_t at, uint32_t delta) {
        return [=](Bytes &b) { put32(b, at, get32(b, at) + delta); };
    };
    const auto set = [](size_t at, uint32_t value) {
        return [=](Bytes &b) { put32(b, at, value); };
    };
    const auto last_of_pkgmeta = [](char last) {
        return [last](Bytes &b) {
            const ElfFile elf(b);
            const emu::ElfSection &names = elf.sections().back();
            const auto table = elf.contents(names);
            const std::string text(table.begin(), table.end());
            b[names.offset + text.find(".kivos.pkgmeta") + 13] = static_cast<uint8_t>(last);
        };
    };
    struct Case {
        const char *what;
        std::function<void(Bytes &)> damage;
        std::string problem;
    };
    const std::vector<Case> cases = {
        {"moved section", add(sh(".rodata", offsetof(Elf32_Shdr, sh_addr)), 0x100),
         ".rodata is at 0x405100, expected 0x405000"},
        {"writable code", add(sh(".text", offsetof(Elf32_Shdr, sh_flags)), SHF_WRITE),
         ".text has flags alloc, write, exec, expected alloc, exec"},
        {"wrong alignment", set(sh(".kivos.cmdmeta", offsetof(Elf32_Shdr, sh_addralign)), 4),
         ".kivos.cmdmeta is aligned to 4, expected 32"},
        {"wrong type", set(sh(".data", offsetof(Elf32_Shdr, sh_type)), SHT_NOBITS),
         ".data has type NOBITS, expected PROGBITS"},
        {"section bytes elsewhere in the file",
         add(sh(".rodata", offsetof(Elf32_Shdr, sh_offset)), 16),
         ".rodata lies at file offset 0x2010, but the read-only segment loads its address from "
         "0x2000"},
        {"overlapping sections", add(sh(".rodata", offsetof(Elf32_Shdr, sh_size)), 0x20),
         "overlaps .kivos.cmdmeta"},
        {"renamed record section", last_of_pkgmeta('x'),
         ".kivos.pkgmeta: missing: the image has no package record"},
        {"a section name with a line break", last_of_pkgmeta('\n'),
         "\".kivos.pkgmet\\x0a\" is loaded but no kivos command has it"},
        {"writable text segment", set(ph(0, offsetof(Elf32_Phdr, p_flags)), PF_R | PF_W | PF_X),
         "text segment has flags RWX, expected RX"},
        {"segment moved", add(ph(1, offsetof(Elf32_Phdr, p_vaddr)), 0x1000),
         "read-only segment spans [0x406000"},
        {"segment short of its sections", add(ph(2, offsetof(Elf32_Phdr, p_memsz)), -4u),
         "data segment spans [0x406000, "},
        {"segment alignment", set(ph(1, offsetof(Elf32_Phdr, p_align)), 16),
         "read-only segment is aligned to 16, expected 4096"},
        {"executable stack", set(ph(3, offsetof(Elf32_Phdr, p_flags)), PF_R | PF_W | PF_X),
         "GNU_STACK has flags RWX, expected RW"},
        {"an interpreter", set(ph(3, offsetof(Elf32_Phdr, p_type)), PT_INTERP),
         "program header of type PT_INTERP (a program interpreter), which no kivos command has"},
        {"wrong machine", [&](Bytes &b) { b[offsetof(Elf32_Ehdr, e_machine)] = EM_X86_64; },
         "ELF machine is 62, not Intel 80386 (3)"},
        {"shared object", [&](Bytes &b) { b[offsetof(Elf32_Ehdr, e_type)] = ET_DYN; },
         "ELF type is 3, not an executable (2)"},
        {"another OS/ABI", [&](Bytes &b) { b[EI_OSABI] = ELFOSABI_LINUX; },
         "ELF OS/ABI is 3, not 0 (System V)"},
        {"moved entry", add(offsetof(Elf32_Ehdr, e_entry), 0x10),
         "entry point is 0x400010, not the start of .text (0x400000)"},
        {"bad magic", [&](Bytes &b) { b[contents_at(b, ".kivos.cmdmeta", 0)] = 'X'; },
         ".kivos.cmdmeta: magic is \"XCMD\", not \"KCMD\""},
        {"a record without its NUL",
         [&](Bytes &b) {
             for (size_t i = 8; i < 24; ++i) b[contents_at(b, ".kivos.pkgmeta", i)] = 'A';
         },
         ".kivos.pkgmeta: package name at offset 8 runs off the end of the section without its "
         "NUL"},
        {"a second record",
         [&](Bytes &b) {
             // The command section grows over the package record, which now reads KCMD.
             add(sh(".kivos.cmdmeta", offsetof(Elf32_Shdr, sh_size)), 24)(b);
             b[contents_at(b, ".kivos.pkgmeta", 1)] = 'C';
             b[contents_at(b, ".kivos.pkgmeta", 2)] = 'M';
             b[contents_at(b, ".kivos.pkgmeta", 3)] = 'D';
         },
         ".kivos.cmdmeta: a second record at offset 56: the section holds exactly one"},
    };
    ASSERT_THAT(meta::check_image(ElfFile(original)), IsEmpty());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes damaged = original;
        c.damage(damaged);
        const auto problems = meta::check_image(ElfFile(damaged));
        EXPECT_THAT(problems, testing::Contains(HasSubstr(c.problem)))
            << testing::PrintToString(problems);
    }
}

// Whatever the bytes, the reader and the checker answer with an ImageError or
// a list of problems: never a crash, never another exception.
void expect_handled(const Bytes &bytes) {
    try {
        const ElfFile elf(bytes);
        meta::check_image(elf);
        meta::read_meta(elf);
    } catch (const emu::ImageError &) {
    }
}

TEST(ImageCheck, SurvivesTruncatedAndGarbledFiles) {
    const Bytes original = file_bytes(KIVOS_RAM_FORECAST);
    for (size_t size = 0; size < original.size(); size += size < 4096 ? 1 : 61) {
        expect_handled(Bytes(original.begin(), original.begin() + static_cast<ptrdiff_t>(size)));
    }
    // Headers, the section table and the records are where damage matters most.
    const size_t section_table = get32(original, offsetof(Elf32_Ehdr, e_shoff));
    const std::vector<std::pair<size_t, size_t>> regions = {
        {0, sizeof(Elf32_Ehdr) + 4 * sizeof(Elf32_Phdr)},
        {section_table, original.size()},
        {contents_at(original, ".kivos.cmdmeta", 0), contents_at(original, ".kivos.pkgmeta", 24)},
        {0, original.size()},
    };
    std::mt19937 random(20240601);
    for (int round = 0; round < 3000; ++round) {
        Bytes garbled = original;
        const auto &[low, high] = regions[round % regions.size()];
        const int changes = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < changes; ++i) {
            const size_t at = low + random() % (high - low);
            garbled[at] = round % 3 == 0 ? static_cast<uint8_t>(random()) : 0xff;
        }
        expect_handled(garbled);
    }
}

}  // namespace
}  // namespace kivos::test
