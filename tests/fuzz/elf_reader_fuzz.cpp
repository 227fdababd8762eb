// The image reader and the loader on any bytes: an image is mapped into a machine or refused
// with one line, never a crash, a read outside the file or a long wait.
#include <string_view>

#include "emu/elf_image.h"
#include "emu/errors.h"
#include "emu/kernel.h"
#include "emu/machine.h"
#include "emu/process.h"
#include "library.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace kivos::emu;
    try {
        const ElfImage image{ElfFile({data, data + size})};
        image.file().symbol("_start");
        Kernel kernel({.root = "/", .real_sleep = false});
        Process process(kernel, 1, image, {}, kernel.root(), kernel.console_descriptors());
    } catch (const ImageError &error) {
        kivos::fuzz::require(std::string_view(error.what()).find('\n') == std::string_view::npos,
                             error.what());
    }
    return 0;
}
