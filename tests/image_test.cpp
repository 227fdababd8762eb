// The built images as the kivos loader and tools see them, and the reader and checker of their
// records and layout, on those images and on damaged copies of them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <set>

#include "emu/elf_file.h"
#include "emu/errors.h"
#include "harness/elf_bytes.h"
#include "harness/process.h"
#include "meta/image_check.h"
#include "meta/records.h"

namespace kivos::test {
namespace {

using emu::ElfFile;
using testing::HasSubstr;
using testing::IsEmpty;
using namespace std::string_literals;

constexpr uint32_t k_page = 4096;
const std::vector<const char *> k_images = {KIVOS_RAM_FORECAST, KIVOS_TEST_IMAGE, KIVOS_BIG_COMMAND,
                                            KIVOS_NOTES};

std::string contents(const ElfFile &elf, const char *section) {
    const auto bytes = elf.contents(*elf.section(section));
    return {bytes.begin(), bytes.end()};
}

TEST(Image, RamForecastLayoutAndRecordsByteForByte) {
    const ElfFile elf = ElfFile::read(KIVOS_RAM_FORECAST);
    EXPECT_EQ(elf.type(), ET_EXEC);
    EXPECT_EQ(elf.machine(), EM_386);
    EXPECT_EQ(elf.entry(), 0x400000u);
    EXPECT_EQ(contents(elf, ".kivos.cmdmeta"),
              "KCMD\x01\0\0\0Show predictive memory statistics\0ram_forecast\0\0"s);
    EXPECT_EQ(contents(elf, ".kivos.pkgmeta"),
              "KPKG\x01\0\0\0ram_forecast\0"
              "3\0\0"s);
    // The fixed addresses themselves, whatever the checker believes.
    const std::vector<std::vector<uint32_t>> segments = {{PT_LOAD, 0x400000, PF_R | PF_X},
                                                         {PT_LOAD, 0x405000, PF_R},
                                                         {PT_LOAD, 0x406000, PF_R | PF_W},
                                                         {PT_GNU_STACK, 0, PF_R | PF_W}};
    const auto &headers = elf.program_headers();
    ASSERT_EQ(headers.size(), segments.size());
    for (size_t i = 0; i < segments.size(); ++i) {
        EXPECT_EQ((std::vector<uint32_t>{headers[i].type, headers[i].vaddr, headers[i].flags}),
                  segments[i]);
        EXPECT_EQ(headers[i].offset % k_page, headers[i].vaddr % k_page);
    }
    // The read-only segment carries both records; the data segment ends with the bss.
    const emu::ElfSection *pkg = elf.section(".kivos.pkgmeta"), *bss = elf.section(".bss");
    EXPECT_EQ(headers[1].vaddr + headers[1].memsz, pkg->addr + pkg->size);
    EXPECT_EQ(headers[2].vaddr + headers[2].memsz, bss->addr + bss->size);
    // Every command carries the runtime's state: the arena leads the bss, errno follows it.
    EXPECT_EQ(elf.symbol("g_heap")->value, 0x407000u);
    EXPECT_EQ(elf.symbol("g_heap")->size, 0x100000u);
    EXPECT_EQ(elf.symbol("errno")->value, 0x507000u);
    for (const char *name : {"stdin", "stdout", "stderr", "g_rand_state"})
        EXPECT_EQ(elf.symbol(name)->value & ~(k_page - 1), 0x406000u) << name;
}

TEST(Image, EveryImageIsSelfContainedAndOpensWithStartThenMain) {
    const std::regex vector_instruction(
        R"(%x?mm[0-9]|%ymm|\b(emms|ldmxcsr|stmxcsr|movnti|[slm]fence|prefetch\w*|fxsave|fxrstor)\b)");
    for (const char *image : k_images) {
        SCOPED_TRACE(image);
        const ElfFile elf = ElfFile::read(image);
        EXPECT_THAT(meta::check_image(elf), IsEmpty());
        EXPECT_EQ(elf.symbol("_start")->value, 0x400000u);
        // main comes next, before every function of the library. The library's own C++ runtime
        // and assert use the compiler's names for them; no other compiler helper crept in.
        const std::set<std::string> runtime = {"__assert_fail", "__cxa_atexit",
                                               "__cxa_pure_virtual", "__dso_handle"};
        const uint32_t main_address = elf.symbol("main")->value;
        for (const auto &symbol : elf.symbols()) {
            if (ELF32_ST_TYPE(symbol.info) == STT_FUNC && symbol.name != "_start") {
                EXPECT_GE(symbol.value, main_address) << symbol.name;
            }
            EXPECT_TRUE(!symbol.name.starts_with("__") || runtime.contains(symbol.name))
                << "a compiler helper crept in: " << symbol.name;
        }
        for (const char *absent : {".init_array", ".fini_array", ".ctors", ".dtors", ".eh_frame",
                                   ".interp", ".dynamic", ".got", ".plt"})
            EXPECT_EQ(elf.section(absent), nullptr) << absent;
        const std::string listing = run_process({"objdump", "-d", "--no-show-raw-insn", image}).out;
        ASSERT_NE(listing.find("<_start>:"), std::string::npos);
        std::smatch found;
        EXPECT_FALSE(std::regex_search(listing, found, vector_instruction)) << found.str();
        EXPECT_EQ(run_process({"nm", "-u", image}).out, "");
    }
}

std::span<const uint8_t> as_bytes(const std::string &text) {
    return {reinterpret_cast<const uint8_t *>(text.data()), text.size()};
}

TEST(Records, ReadsWhatTheBytesHoldAndNamesEachFault) {
    struct Case {
        std::string bytes;
        std::string first, second;  // expected strings, when readable
        std::string problem;        // a part of the one expected problem, or none
    };
    // Command records, but for the two that begin with KPKG.
    const std::vector<Case> cases = {
        {"KCMD\1\0\0\0abcd\0ef\0"s, "abcd", "ef", ""},  // no fill needed
        {"KCMD\1\0\0\0\0x\0\0"s, "", "x", ""},          // an empty description is fine
        {"KPKG\1\0\0\0a\0\0\0"s, "a", "", ""},          // and so is an empty tag
        {"KCMD\1\0\0"s, "", "", "holds 7 bytes, less than the 8-byte record header"},
        {"\0CMD\1\0\0\0abcd\0ef\0"s, "abcd", "ef", "magic is \"\\x00CMD\""},
        {"KCMD\0\0\0\1abcd\0ef\0"s, "abcd", "ef", "record version is 16777216, not 1"},
        {"KCMD\1\0\0\0abcdef"s, "", "",
         "description at offset 8 runs off the end of the section without its NUL"},
        {"KCMD\1\0\0\0ab\0c\0"s, "ab", "c",
         "the record needs 16 bytes with its zero fill; the section holds 13"},
        {"KCMD\1\0\0\0ab\0c\0\0\7\0"s, "ab", "c", "fill byte at offset 14 is 0x07, not 0"},
        {"KCMD\1\0\0\0abcd\0ef\0KCMD\1\0\0\0abcd\0ef\0"s, "abcd", "ef",
         "a second record at offset 16: the section holds exactly one"},
        {"KCMD\1\0\0\0ab\0\0"s, "ab", "", "command name is empty"},
        {"KPKG\1\0\0\0p\0\xe9t\xe9\0\0\0"s, "p", "\xe9t\xe9",
         "tag \"\\xe9t\\xe9\" has the byte 0xe9, not printable ASCII"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        const bool package = c.bytes.starts_with("KPKG");
        const meta::RecordReading reading = meta::read_record(
            as_bytes(c.bytes), package ? meta::kPackageRecord : meta::kCommandRecord);
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

// Where a field of a named section's header sits in the file.
size_t named_field(const Bytes &bytes, const char *name, size_t field) {
    const ElfFile elf(bytes);
    for (size_t i = 0; i < elf.sections().size(); ++i)
        if (elf.sections()[i].name == name) return section_field(bytes, i, field);
    throw std::runtime_error(std::string("no section ") + name);
}

TEST(ImageCheck, ReportsEachFaultOfADamagedCopy) {
    const Bytes original = file_bytes(KIVOS_RAM_FORECAST);
    const auto sh = [&](const char *name, size_t field) {
        return named_field(original, name, field);
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
    const auto byte = [](size_t at, uint8_t value) { return [=](Bytes &b) { b[at] = value; }; };
    const auto last_of_pkgmeta = [](char last) {
        return [last](Bytes &b) {
            const ElfFile elf(b);
            const emu::ElfSection &names = elf.sections().back();
            const auto table = elf.contents(names);
            const std::string text(table.begin(), table.end());
            b[names.offset + text.find(".kivos.pkgmeta") + 13] = static_cast<uint8_t>(last);
        };
    };
    const std::vector<std::pair<std::function<void(Bytes &)>, std::string>> cases = {
        {add(sh(".rodata", offsetof(Elf32_Shdr, sh_addr)), 0x100),
         ".rodata is at 0x405100, expected 0x405000"},
        {add(sh(".text", offsetof(Elf32_Shdr, sh_flags)), SHF_WRITE),
         ".text has flags alloc, write, exec, expected alloc, exec"},
        {set(sh(".kivos.cmdmeta", offsetof(Elf32_Shdr, sh_addralign)), 4),
         ".kivos.cmdmeta is aligned to 4, expected 32"},
        {add(sh(".rodata", offsetof(Elf32_Shdr, sh_offset)), 16),
         ".rodata lies at file offset 0x2010, but the read-only segment loads its address from "
         "0x2000"},
        {add(sh(".rodata", offsetof(Elf32_Shdr, sh_size)), 0x20), "overlaps .kivos.cmdmeta"},
        {last_of_pkgmeta('x'), ".kivos.pkgmeta: missing: the image has no package record"},
        {last_of_pkgmeta('\n'), "\".kivos.pkgmet\\x0a\" is loaded but no kivos command has it"},
        {set(ph(0, offsetof(Elf32_Phdr, p_flags)), PF_R | PF_W | PF_X),
         "text segment has flags RWX, expected RX"},
        {add(ph(1, offsetof(Elf32_Phdr, p_vaddr)), 0x1000), "read-only segment spans [0x406000"},
        {add(ph(2, offsetof(Elf32_Phdr, p_memsz)), -4u), "data segment spans [0x406000, "},
        {set(ph(3, offsetof(Elf32_Phdr, p_flags)), PF_R | PF_W | PF_X),
         "GNU_STACK has flags RWX, expected RW"},
        {set(ph(3, offsetof(Elf32_Phdr, p_type)), PT_INTERP),
         "program header of type PT_INTERP (a program interpreter), which no kivos command has"},
        {byte(offsetof(Elf32_Ehdr, e_machine), EM_X86_64),
         "ELF machine is 62, not Intel 80386 (3)"},
        {byte(offsetof(Elf32_Ehdr, e_type), ET_DYN), "ELF type is 3, not an executable (2)"},
        {byte(EI_OSABI, ELFOSABI_LINUX), "ELF OS/ABI is 3, not 0 (System V)"},
        {add(offsetof(Elf32_Ehdr, e_entry), 0x10),
         "entry point is 0x400010, not the start of .text (0x400000)"},
    };
    for (const auto &[damage, problem] : cases) {
        SCOPED_TRACE(problem);
        Bytes damaged = original;
        damage(damaged);
        const auto problems = meta::check_image(ElfFile(damaged));
        EXPECT_THAT(problems, testing::Contains(HasSubstr(problem)))
            << testing::PrintToString(problems);
    }
}

}  // namespace
}  // namespace kivos::test
