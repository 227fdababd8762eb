// The trace line of any trap of any call, its strings read from guest memory that holds any
// bytes and ends where the mapping does: always one line of printable text.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <string>

#include "emu/address_space.h"
#include "emu/engine.h"
#include "emu/guest_memory.h"
#include "emu/syscall_table.h"
#include "emu/trap_format.h"
#include "library.h"

namespace {

constexpr uint32_t kPage = 0x10000, kPages = 2 * 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace kivos::emu;
    static Engine engine;
    static AddressSpace space(engine);
    static const GuestMemory memory = [] {
        space.map(kPage, kPages, UC_PROT_READ);
        return GuestMemory(engine.get(), space);
    }();
    FuzzedDataProvider in(data, size);
    const auto calls = syscalls();
    const std::string kinds =
        in.ConsumeBool()
            ? std::string(calls[in.ConsumeIntegralInRange<size_t>(0, calls.size() - 1)].arguments)
            : in.ConsumeRandomLengthString(8);
    std::array<uint32_t, 6> args{};
    // Half point into the mapping, near its end for the most part.
    for (uint32_t &arg : args)
        arg = in.ConsumeBool() ? kPage + kPages - in.ConsumeIntegralInRange<uint32_t>(0, 300)
                               : in.ConsumeIntegral<uint32_t>();
    const auto result = in.ConsumeIntegral<int32_t>();
    std::string bytes = in.ConsumeRemainingBytesAsString();
    bytes.resize(std::min<size_t>(bytes.size(), kPages));
    check(uc_mem_write(engine.get(), kPage + kPages - bytes.size(), bytes.data(), bytes.size()),
          "filling");
    const std::string line = format_trap("call", kinds, args, result, memory);
    for (const char c : line) kivos::fuzz::require(c >= 0x20 && c < 0x7f, "unprintable: " + line);
    return 0;
}
