// The built images as the kivos loader and tools see them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <elf.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "emu/elf_file.h"
#include "meta/image_check.h"

namespace kivos::test {
namespace {

using emu::ElfFile;
using emu::ElfSection;

constexpr uint32_t k_page = 4096;

std::string output_of(const std::string &command_line) {
    std::string out;
    FILE *pipe = popen(command_line.c_str(), "r");
    if (pipe == nullptr) return "popen failed";
    std::array<char, 4096> chunk;
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) out.append(chunk.data(), n);
    pclose(pipe);
    return out;
}

std::string record_bytes(const ElfFile &elf, const char *section) {
    const ElfSection *s = elf.section(section);
    if (s == nullptr) return "";
    const auto bytes = elf.contents(*s);
    return {bytes.begin(), bytes.end()};
}

TEST(Image, RamForecastHeaderAndSections) {
    const ElfFile elf = ElfFile::read(KIVOS_RAM_FORECAST);
    EXPECT_EQ(elf.type(), ET_EXEC);
    EXPECT_EQ(elf.machine(), EM_386);
    EXPECT_EQ(elf.entry(), 0x400000u);
    EXPECT_EQ(elf.symbol("_start")->value, 0x400000u);
    EXPECT_THAT(meta::check_image(elf), testing::IsEmpty());
    // The fixed addresses themselves, whatever the checker believes.
    EXPECT_EQ(elf.section(".text")->addr, 0x400000u);
    EXPECT_EQ(elf.section(".rodata")->addr, 0x405000u);
    EXPECT_EQ(elf.section(".data")->addr, 0x406000u);
    for (const meta::SectionRule &rule : meta::kCommandLayout) {
        if (const ElfSection *section = elf.section(rule.name)) {
            EXPECT_EQ(section->addralign, rule.alignment) << rule.name;
        }
    }
}

TEST(Image, RamForecastRecordsByteForByte) {
    const ElfFile elf = ElfFile::read(KIVOS_RAM_FORECAST);
    using namespace std::string_literals;
    EXPECT_EQ(record_bytes(elf, ".kivos.cmdmeta"),
              "KCMD\x01\0\0\0Show predictive memory statistics\0ram_forecast\0\0"s);
    EXPECT_EQ(record_bytes(elf, ".kivos.pkgmeta"),
              "KPKG\x01\0\0\0ram_forecast\0"
              "3\0\0"s);
}

TEST(Image, RamForecastSegments) {
    const ElfFile elf = ElfFile::read(KIVOS_RAM_FORECAST);
    struct Expected {
        uint32_t type;
        uint32_t vaddr;
        uint32_t flags;
    };
    const std::vector<Expected> expected = {
        {PT_LOAD, 0x400000, PF_R | PF_X},
        {PT_LOAD, 0x405000, PF_R},
        {PT_LOAD, 0x406000, PF_R | PF_W},
        {PT_GNU_STACK, 0, PF_R | PF_W},  // nothing runs from the stack
    };
    const auto &headers = elf.program_headers();
    ASSERT_EQ(headers.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(headers[i].type, expected[i].type);
        EXPECT_EQ(headers[i].vaddr, expected[i].vaddr);
        EXPECT_EQ(headers[i].flags, expected[i].flags);
        if (headers[i].type == PT_LOAD) {
            EXPECT_EQ(headers[i].offset % k_page, headers[i].vaddr % k_page);
        }
    }
    // The read-only segment carries both records; the data segment ends with the bss.
    const ElfSection *pkg = elf.section(".kivos.pkgmeta");
    EXPECT_EQ(headers[1].vaddr + headers[1].memsz, pkg->addr + pkg->size);
    const ElfSection *bss = elf.section(".bss");
    EXPECT_EQ(headers[2].vaddr + headers[2].memsz, bss->addr + bss->size);
    EXPECT_LT(headers[2].filesz, headers[2].memsz);
    // Every command carries the runtime's state: the arena leads the bss, errno follows it.
    EXPECT_EQ(elf.symbol("g_heap")->value, 0x407000u);
    EXPECT_EQ(elf.symbol("errno")->value, 0x507000u);
    for (const char *name : {"stdin", "stdout", "stderr", "g_rand_state"}) {
        EXPECT_EQ(elf.section(".data")->addr, elf.symbol(name)->value & ~(k_page - 1)) << name;
    }
}

TEST(Image, LargerCommandMovesItsSectionsToTheNextPage) {
    const ElfFile elf = ElfFile::read(KIVOS_BIG_COMMAND);
    EXPECT_GT(elf.section(".text")->size, 40u * 1024);
    const ElfSection *text = elf.section(".text");
    EXPECT_EQ(elf.section(".rodata")->addr, (text->addr + text->size + k_page - 1) & ~(k_page - 1));
    EXPECT_THAT(meta::check_image(elf), testing::IsEmpty());
}

TEST(Image, EveryImageOpensWithStartThenMain) {
    for (const char *image :
         {KIVOS_RAM_FORECAST, KIVOS_TEST_IMAGE, KIVOS_BIG_COMMAND, KIVOS_FILE_WRITER}) {
        SCOPED_TRACE(image);
        const ElfFile elf = ElfFile::read(image);
        EXPECT_EQ(elf.symbol("_start")->value, 0x400000u);
        // main comes next, before every function of the library.
        const uint32_t main_address = elf.symbol("main")->value;
        for (const auto &symbol : elf.symbols()) {
            if (ELF32_ST_TYPE(symbol.info) == STT_FUNC && symbol.name != "_start") {
                EXPECT_GE(symbol.value, main_address) << symbol.name;
            }
        }
    }
}

TEST(Image, EveryImageIsSelfContained) {
    const std::regex vector_instruction(
        R"(%x?mm[0-9]|%ymm|\b(emms|ldmxcsr|stmxcsr|movnti|[slm]fence|prefetch\w*|fxsave|fxrstor)\b)");
    for (const char *image :
         {KIVOS_RAM_FORECAST, KIVOS_TEST_IMAGE, KIVOS_BIG_COMMAND, KIVOS_FILE_WRITER}) {
        SCOPED_TRACE(image);
        const std::string listing =
            output_of(std::string("objdump -d --no-show-raw-insn ") + image);
        ASSERT_NE(listing.find("<_start>:"), std::string::npos);
        std::smatch found;
        EXPECT_FALSE(std::regex_search(listing, found, vector_instruction)) << found.str();
        EXPECT_EQ(output_of(std::string("nm -u ") + image), "");
        const ElfFile elf = ElfFile::read(image);
        for (const char *absent : {".init_array", ".fini_array", ".ctors", ".dtors", ".eh_frame",
                                   ".interp", ".dynamic", ".got", ".plt"}) {
            EXPECT_EQ(elf.section(absent), nullptr) << absent;
        }
        // The library's own C++ runtime and assert use the compiler's names for them.
        const std::set<std::string> runtime = {"__assert_fail", "__cxa_atexit",
                                               "__cxa_pure_virtual", "__dso_handle"};
        for (const auto &symbol : elf.symbols()) {
            if (runtime.contains(symbol.name)) continue;
            EXPECT_EQ(symbol.name.rfind("__", 0), std::string::npos)
                << "a compiler helper crept in: " << symbol.name;
        }
    }
}

}  // namespace
}  // namespace kivos::test
