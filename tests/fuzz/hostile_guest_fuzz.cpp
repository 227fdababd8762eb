// Any instruction bytes, and any kivos calls with any registers, run as a command runs on the
// machine: every run ends as a guest's run does (an exit, a fault, the limit, a wait), never
// with a crash or an error of the host.
#include <filesystem>

#include "emu/elf_image.h"
#include "emu/kernel.h"
#include "emu/layout.h"
#include "emu/process.h"
#include "library.h"

namespace {

constexpr uint32_t kCode = 0x30000000, kMostCode = 4096, kPastLastCall = 128;

// mov $value to eax, ebx, ecx, edx, esi, edi and ebp, then int $0x80; each value half the time
// one that means something: a call number, a count, an address in the code.
std::string any_call(kivos::fuzz::Input &in) {
    std::string code;
    for (const char opcode : {'\xb8', '\xbb', '\xb9', '\xba', '\xbe', '\xbf', '\xbd'}) {
        const uint32_t value = in.ConsumeBool()
                                   ? in.telling(kCode, kMostCode)
                                   : in.telling(0, opcode == '\xb8' ? kPastLastCall : 4096);
        code += opcode;
        code.append(reinterpret_cast<const char *>(&value), sizeof value);
    }
    return code + "\xcd\x80";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace kivos;
    static const test::TempFolder root;
    static const emu::ElfImage image = emu::ElfImage::load(KIVOS_TEST_IMAGE);
    fuzz::Input in(data, size);
    std::string code;
    while (code.size() < kMostCode && in.remaining_bytes() > 0)
        code += in.ConsumeBool() ? any_call(in) : in.ConsumeRandomLengthString(16);
    for (const auto &entry : std::filesystem::directory_iterator(root.path()))
        std::filesystem::remove_all(entry.path());
    try {
        emu::Kernel kernel({.root = root.path(), .real_sleep = false});
        kernel.console().capture();
        kernel.input().provide(code);
        // Counted a block at a time, as kivos-run counts.
        emu::Process process(kernel, 1, image,
                             {.count_instructions = true, .instruction_limit = 100000},
                             kernel.root(), kernel.console_descriptors());
        process.machine().map(kCode, static_cast<uint32_t>(emu::layout::page_up(code.size() + 1)),
                              UC_PROT_READ | UC_PROT_EXEC, code);
        process.machine().call(kCode, {});
    } catch (const std::exception &error) {
        fuzz::require(false, error.what());
    }
    return 0;
}
