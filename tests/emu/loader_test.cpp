// The loader refuses every image it cannot run, with one clear line, and
// never reads outside the file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "emu/elf_image.h"
#include "emu/kernel.h"
#include "emu/process.h"
#include "emu/errors.h"
#include "harness/elf_bytes.h"

namespace kivos::emu {
namespace {

using test::Bytes;
using test::put16;
using test::put32;

std::string refusal(const Bytes &bytes) {
    try {
        ElfImage image{ElfFile(bytes)};
    } catch (const ImageError &error) {
        return error.what();
    }
    return "accepted";
}

TEST(Loader, RefusesDamagedImagesWithOneLine) {
    const Bytes original = test::file_bytes(KIVOS_PROBE_IMAGE);
    ASSERT_EQ(refusal(original), "accepted");
    const auto header16 = [](size_t field, uint16_t v) {
        return [=](Bytes &b) { put16(b, field, v); };
    };
    const auto program32 = [&](size_t index, size_t field, uint32_t v) {
        return [=, at = test::program_field(original, index, field)](Bytes &b) { put32(b, at, v); };
    };
    const auto section32 = [&](size_t index, size_t field, uint32_t v) {
        return [=, at = test::section_field(original, index, field)](Bytes &b) { put32(b, at, v); };
    };
    constexpr size_t type = offsetof(Elf32_Phdr, p_type), vaddr = offsetof(Elf32_Phdr, p_vaddr);
    constexpr size_t memsz = offsetof(Elf32_Phdr, p_memsz);
    const std::vector<std::pair<std::function<void(Bytes &)>, const char *>> cases = {
        {[](Bytes &b) { b.clear(); }, "not an ELF file"},
        {[](Bytes &b) { b[1] = 'X'; }, "not an ELF file"},
        {[](Bytes &b) { b[EI_CLASS] = ELFCLASS64; }, "64-bit"},
        {[](Bytes &b) { b[EI_DATA] = ELFDATA2MSB; }, "little-endian"},
        {[](Bytes &b) { b.resize(40); }, "truncated ELF header"},
        {header16(offsetof(Elf32_Ehdr, e_machine), EM_X86_64), "not an i386 image"},
        {header16(offsetof(Elf32_Ehdr, e_type), ET_DYN), "not a static executable"},
        {[](Bytes &b) { put32(b, offsetof(Elf32_Ehdr, e_phoff), 0xfffffff0); },
         "program headers lie outside the file"},
        {header16(offsetof(Elf32_Ehdr, e_phnum), 4000),
         "4000 program headers; a kivos image has at most 64"},
        {program32(0, offsetof(Elf32_Phdr, p_filesz), 0x100000), "outside the file"},
        {program32(0, offsetof(Elf32_Phdr, p_offset), 0xfffffff0), "outside the file"},
        {program32(2, memsz, 1), "more file bytes than memory"},
        {program32(1, type, PT_INTERP), "dynamically linked"},
        {program32(1, type, PT_DYNAMIC), "dynamically linked"},
        {program32(1, vaddr, 0x100), "touches page 0"},
        {program32(1, vaddr, 0xbff00000), "stack area"},
        {program32(1, vaddr, 0xfffff000), "stack area"},  // wrapping the address space
        {program32(1, vaddr, 0x400100), "overlaps"},
        {program32(2, memsz, 0x40000000), "absurdly large"},
        {[](Bytes &b) { put32(b, offsetof(Elf32_Ehdr, e_entry), 0x401000); },
         "not in an executable segment"},
        {[&](Bytes &b) {
             for (size_t i = 0; i < 3; ++i)
                 put32(b, test::program_field(original, i, type), PT_NULL);
         },
         "no loadable segment"},
        {header16(offsetof(Elf32_Ehdr, e_shnum), 0x7fff), "section headers lie outside the file"},
        {section32(5, offsetof(Elf32_Shdr, sh_size), 0x7fffffff), "lies outside the file"},
        {header16(offsetof(Elf32_Ehdr, e_shstrndx), 99), "section name table"},
        {section32(1, offsetof(Elf32_Shdr, sh_name), 0x10000), "out of its string table"},
    };
    for (const auto &[damage, expected] : cases) {
        SCOPED_TRACE(expected);
        Bytes bytes = original;
        damage(bytes);
        const std::string reason = refusal(bytes);
        EXPECT_NE(reason.find(expected), std::string::npos) << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos);
    }
}

// A segment without any right is never mapped, though its bytes are in the file.
TEST(Loader, LoadsASegmentWithoutRights) {
    Bytes without_rights = test::file_bytes(KIVOS_PROBE_IMAGE);
    put32(without_rights, test::program_field(without_rights, 2, offsetof(Elf32_Phdr, p_flags)), 0);
    emu::Kernel kernel({.root = "/"});
    EXPECT_NO_THROW(emu::Process(kernel, 1, ElfImage{ElfFile(without_rights)}, {}, kernel.root(),
                                 kernel.console_descriptors()));
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
        .write(test::read_file(KIVOS_PROBE_IMAGE).data(), sizeof(Elf32_Ehdr));
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
