#include "debug/dwfl_image.h"

#include <stdexcept>
#include <string>

namespace kivos::debug {
namespace {

// kivos images carry their debug information inside or not at all: nothing
// is looked for elsewhere (no debuglink, no build id, no debuginfod).
int no_separate_debuginfo(Dwfl_Module *, void **, const char *, Dwarf_Addr, const char *,
                          const char *, GElf_Word, char **) {
    return -1;
}

const Dwfl_Callbacks kOfflineCallbacks = {
    .find_elf = dwfl_build_id_find_elf,
    .find_debuginfo = no_separate_debuginfo,
    .section_address = dwfl_offline_section_address,
    .debuginfo_path = nullptr,
};

}  // namespace

DwflImage::DwflImage(const std::filesystem::path &image) : dwfl_(dwfl_begin(&kOfflineCallbacks)) {
    if (!dwfl_) throw std::runtime_error(std::string("libdwfl: ") + dwfl_errmsg(-1));
    module_ = dwfl_report_offline(dwfl_.get(), "", image.c_str(), -1);
    dwfl_report_end(dwfl_.get(), nullptr, nullptr);
    if (module_ == nullptr) throw std::runtime_error(image.string() + ": " + dwfl_errmsg(-1));
}

}  // namespace kivos::debug
