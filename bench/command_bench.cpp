// What whole commands cost: ram_forecast from start to exit on the kivos machine, and the text of
// a command that uses printf, fscanf, strtod and malloc.
#include <cstdint>
#include <cstdio>

#include "emu/elf_file.h"
#include "harness/guest.h"
#include "report.h"

int main() {
    kivos::test::GuestOptions options = kivos::bench::counting();
    options.image = KIVOS_RAM_FORECAST;
    kivos::test::Guest g(options);
    g.run_program({"ram_forecast"});
    std::printf("ram_forecast, start to exit: %llu instructions, %zu traps\n",
                static_cast<unsigned long long>(g.instructions()), g.trace().size());

    const auto elf = kivos::emu::ElfFile::read(KIVOS_TYPICAL_COMMAND);
    std::printf("text of a command using printf, fscanf, strtod and malloc: %u bytes\n",
                elf.section(".text")->size);
    return 0;
}
