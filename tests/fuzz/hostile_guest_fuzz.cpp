// Any instruction bytes, and any kivos calls with any registers, run as a command runs on the
// machine: every run ends as a guest's run does (an exit, a fault, the limit, a wait), never
// with a crash or an error of the host.
#include <fuzzer/FuzzedDataProvider.h>

#include <filesystem>
#include <string>

#include "emu/elf_image.h"
#include "emu/kernel.h"
#include "emu/layout.h"
#include "emu/process.h"
#include "harness/guest.h"
#include "library.h"

namespace {

constexpr uint32_t kCode = 0x30000000;
constexpr size_t kMostCode = 4096;
constexpr uint32_t kPastLastCall = 128;

// Half the time a number that means something: a call number, a count, an address in the code.
uint32_t any_value(FuzzedDataProvider &in, bool number) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return in.ConsumeIntegralInRange<uint32_t>(0, number ? kPastLastCall : 4096);
        case 1:
            return kCode + in.ConsumeIntegralInRange<uint32_t>(0, kMostCode);
        default:
            return in.ConsumeIntegral<uint32_t>();
    }
}

// mov $value to eax, ebx, ecx, edx, esi, edi and ebp, then int $0x80.
std::string any_call(FuzzedDataProvider &in) {
    std::string code;
    for (const char opcode : {'\xb8', '\xbb', '\xb9', '\xba', '\xbe', '\xbf', '\xbd'}) {
        const uint32_t value = any_value(in, opcode == '\xb8');
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
    FuzzedDataProvider in(data, size);
    std::string code;
    while (code.size() < kMostCode && in.remaining_bytes() > 0)
        code += in.ConsumeBool() ? any_call(in) : in.ConsumeRandomLengthString(16);
    for (const auto &entry : std::filesystem::directory_iterator(root.path()))
        std::filesystem::remove_all(entry.path());
    try {
        emu::Kernel kernel({.root = root.path(), .real_sleep = false});
        kernel.console().capture();
        kernel.input().provide(code);
        // Counted an instruction at a time: see README, Reliability.
        emu::Process process(kernel, 1, image,
                             {.instruction_limit = 100000, .count_each_instruction = true},
                             kernel.root(), kernel.console_descriptors());
        process.machine().map(kCode, static_cast<uint32_t>(emu::layout::page_up(code.size() + 1)),
                              UC_PROT_READ | UC_PROT_EXEC, code);
        process.machine().call(kCode, {});
    } catch (const std::exception &error) {
        fuzz::require(false, error.what());
    }
    return 0;
}
