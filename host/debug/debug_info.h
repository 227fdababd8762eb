// What an image's symbols and DWARF line table say about its addresses.
// An image built without -g still has its symbols: places then lack a line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "debug/dwfl_image.h"

namespace kivos::debug {

struct Place {
    std::string function;  // demangled; empty when no symbol covers the address
    uint32_t offset = 0;   // from the start of the function
    std::string file;      // the source's absolute path; empty without line information
    int line = 0;
    bool inlined = false;  // a function the compiler inlined into the next place
};

struct LineTable {
    struct Row {
        uint32_t address;
        uint32_t file;  // index into `files`
        uint32_t line;
    };
    std::vector<std::string> files;  // absolute paths
    std::vector<Row> rows;           // by address; only code the link kept
};

class DebugInfo {
  public:
    // Throws std::runtime_error when the file cannot be read as ELF.
    explicit DebugInfo(const std::filesystem::path &image);

    // Innermost first: the functions inlined at `address`, each with the line
    // it is at, then the function that holds the code.
    std::vector<Place> places(uint32_t address) const;
    LineTable line_table() const;

  private:
    DwflImage image_;
};

}  // namespace kivos::debug
