// An image opened with elfutils' libdwfl, the one reader of symbols, line
// tables and call frame information on the host side.
#pragma once

#include <elfutils/libdwfl.h>

#include <filesystem>
#include <memory>

namespace kivos::debug {

class DwflImage {
  public:
    // Throws std::runtime_error when the file cannot be read as ELF.
    explicit DwflImage(const std::filesystem::path &image);

    Dwfl *dwfl() const { return dwfl_.get(); }
    Dwfl_Module *module() const { return module_; }

  private:
    struct End {
        void operator()(Dwfl *dwfl) const { dwfl_end(dwfl); }
    };
    std::unique_ptr<Dwfl, End> dwfl_;
    Dwfl_Module *module_ = nullptr;
};

}  // namespace kivos::debug
