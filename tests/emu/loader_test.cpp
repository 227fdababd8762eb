// The loader refuses every image it cannot run, with one clear line, and
// never reads outside the file.
#include <gtest/gtest.h>

#include <elf.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "emu/elf_image.h"
#include "emu/kernel.h"
#include "emu/process.h"
#include "emu/errors.h"
#include "harness/guest.h"

namespace kivos::emu {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes probe_bytes() {
    std::ifstream in(KIVOS_PROBE_IMAGE, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void put16(Bytes &b, size_t at, uint16_t v) {
    std::memcpy(&b[at], &v, 2);
}
void put32(Bytes &b, size_t at, uint32_t v) {
    std::memcpy(&b[at], &v, 4);
}
uint32_t get32(const Bytes &b, size_t at) {
    uint32_t v;
    std::memcpy(&v, &b[at], 4);
    return v;
}

// Field `field` of program header `index` (the probe has text, rodata, data+bss).
size_t phdr(const Bytes &b, size_t index, size_t field) {
    return get32(b, offsetof(Elf32_Ehdr, e_phoff)) + index * sizeof(Elf32_Phdr) + field;
}

size_t shdr(const Bytes &b, size_t index, size_t field) {
    return get32(b, offsetof(Elf32_Ehdr, e_shoff)) + index * sizeof(Elf32_Shdr) + field;
}

std::string refusal(const Bytes &bytes) {
    try {
        ElfImage image{ElfFile(bytes)};
    } catch (const ImageError &error) {
        return error.what();
    }
    return "accepted";
}

TEST(Loader, AcceptsTheProbeWithItsSegmentsAndSymbols) {
    const ElfImage image{ElfFile(probe_bytes())};
    ASSERT_EQ(image.segments().size(), 3u);
    const Segment &data = image.segments()[2];
    EXPECT_TRUE(data.writable && !data.executable);
    EXPECT_LT(data.filesz, data.memsz) << "data and bss share the last segment";
    EXPECT_EQ(image.entry(), image.file().symbol("_start")->value);
    EXPECT_EQ(image.file().section(".bss")->type, uint32_t{SHT_NOBITS});
    EXPECT_TRUE(image.file().symbol("trap").has_value());
    EXPECT_FALSE(image.file().symbol("no_such_symbol").has_value());

    Bytes without_rights = probe_bytes();  // a segment never mapped, with bytes in the file
    put32(without_rights, phdr(without_rights, 2, offsetof(Elf32_Phdr, p_flags)), 0);
    emu::Kernel kernel({.root = "/"});
    EXPECT_NO_THROW(emu::Process(kernel, 1, ElfImage{ElfFile(without_rights)}, {}, kernel.root(),
                                 kernel.console_descriptors()));
}

TEST(Loader, RefusesDamagedImagesWithOneLine) {
    const Bytes original = probe_bytes();
    ASSERT_EQ(refusal(original), "accepted");
    const auto set16 = [](size_t at, uint16_t v) { return [=](Bytes &b) { put16(b, at, v); }; };
    const auto set32 = [](size_t at, uint32_t v) { return [=](Bytes &b) { put32(b, at, v); }; };
    const auto ph = [&](size_t index, size_t field) { return phdr(original, index, field); };
    const auto sh = [&](size_t index, size_t field) { return shdr(original, index, field); };
    struct Case {
        const char *label;
        std::function<void(Bytes &)> damage;
        const char *reason;
    };
    const std::vector<Case> cases = {
        {"empty file", [](Bytes &b) { b.clear(); }, "not an ELF file"},
        {"not ELF", [](Bytes &b) { b[1] = 'X'; }, "not an ELF file"},
        {"64-bit", [](Bytes &b) { b[EI_CLASS] = ELFCLASS64; }, "64-bit"},
        {"big-endian", [](Bytes &b) { b[EI_DATA] = ELFDATA2MSB; }, "little-endian"},
        {"header cut short", [](Bytes &b) { b.resize(40); }, "truncated ELF header"},
        {"x86-64 machine", set16(offsetof(Elf32_Ehdr, e_machine), EM_X86_64), "not an i386 image"},
        {"shared object", set16(offsetof(Elf32_Ehdr, e_type), ET_DYN), "not a static executable"},
        {"program headers past the end", set32(offsetof(Elf32_Ehdr, e_phoff), 0xfffffff0),
         "program headers lie outside the file"},
        {"thousands of program headers", set16(offsetof(Elf32_Ehdr, e_phnum), 4000),
         "4000 program headers; a kivos image has at most 64"},
        {"segment past the end", set32(ph(0, offsetof(Elf32_Phdr, p_filesz)), 0x100000),
         "outside the file"},
        {"segment offset wraps", set32(ph(0, offsetof(Elf32_Phdr, p_offset)), 0xfffffff0),
         "outside the file"},
        {"file part larger than memory", set32(ph(2, offsetof(Elf32_Phdr, p_memsz)), 1),
         "more file bytes than memory"},
        {"interpreter", set32(ph(1, offsetof(Elf32_Phdr, p_type)), PT_INTERP),
         "dynamically linked"},
        {"dynamic section", set32(ph(1, offsetof(Elf32_Phdr, p_type)), PT_DYNAMIC),
         "dynamically linked"},
        {"segment in page 0", set32(ph(1, offsetof(Elf32_Phdr, p_vaddr)), 0x100), "touches page 0"},
        {"segment on the stack", set32(ph(1, offsetof(Elf32_Phdr, p_vaddr)), 0xbff00000),
         "stack area"},
        {"segment wrapping the address space",
         set32(ph(1, offsetof(Elf32_Phdr, p_vaddr)), 0xfffff000), "stack area"},
        {"overlapping segments", set32(ph(1, offsetof(Elf32_Phdr, p_vaddr)), 0x400100), "overlaps"},
        {"absurd size", set32(ph(2, offsetof(Elf32_Phdr, p_memsz)), 0x40000000), "absurdly large"},
        {"entry outside the text", set32(offsetof(Elf32_Ehdr, e_entry), 0x401000),
         "not in an executable segment"},
        {"no loadable segment",
         [&](Bytes &b) {
             for (size_t i = 0; i < 3; ++i) put32(b, ph(i, offsetof(Elf32_Phdr, p_type)), PT_NULL);
         },
         "no loadable segment"},
        {"section headers past the end", set16(offsetof(Elf32_Ehdr, e_shnum), 0x7fff),
         "section headers lie outside the file"},
        {"section past the end", set32(sh(5, offsetof(Elf32_Shdr, sh_size)), 0x7fffffff),
         "lies outside the file"},
        {"section names out of range", set16(offsetof(Elf32_Ehdr, e_shstrndx), 99),
         "section name table"},
        {"name index past its table", set32(sh(1, offsetof(Elf32_Shdr, sh_name)), 0x10000),
         "out of its string table"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Bytes bytes = original;
        c.damage(bytes);
        const std::string reason = refusal(bytes);
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos);
    }
}

// Each refused at once: nothing blocks, and nothing large is read.
TEST(Loader, ChecksAFileBeforeReadingIt) {
    const test::TempFolder folder;
    const std::string fifo = folder.path() / "fifo", zeros = folder.path() / "zeros",
                      huge = folder.path() / "huge";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::ofstream{zeros};
    std::filesystem::resize_file(zeros, 3ull << 30);
    std::ofstream(huge, std::ios::binary)
        .write(reinterpret_cast<const char *>(probe_bytes().data()), sizeof(Elf32_Ehdr));
    std::filesystem::resize_file(huge, 600u << 20);
    const std::vector<std::pair<std::string, const char *>> cases = {
        {"/no/such/image", "cannot open: No such file"},
        {"/", "is a folder"},
        {fifo, "not a regular file"},
        {"/dev/zero", "not a regular file"},
        {zeros, "not an ELF file"},
        {huge, "larger than any kivos image (629145600 bytes)"}};
    for (const auto &[path, reason] : cases) {
        SCOPED_TRACE(path);
        try {
            ElfImage::load(path);
            ADD_FAILURE() << "accepted";
        } catch (const ImageError &error) {
            EXPECT_NE(std::string(error.what()).find(reason), std::string::npos) << error.what();
        }
    }
}

}  // namespace
}  // namespace kivos::emu
