// The record checker of kivos-meta on any image bytes, and the record reader on any section
// bytes: every problem is one line, and nothing is read outside the bytes.
#include <string>
#include <vector>

#include "emu/errors.h"
#include "library.h"
#include "meta/image_check.h"
#include "meta/records.h"

namespace {

void require_lines(const std::vector<std::string> &problems) {
    for (const std::string &problem : problems)
        kivos::fuzz::require(problem.find('\n') == std::string::npos, problem);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace kivos;
    for (const meta::RecordKind *kind : {&meta::kCommandRecord, &meta::kPackageRecord})
        require_lines(meta::read_record({data, size}, *kind).problems);
    try {
        const emu::ElfFile elf({data, data + size});
        require_lines(meta::check_image(elf));
        require_lines(meta::read_meta(elf).problems);
    } catch (const emu::ImageError &) {
    }
    return 0;
}
