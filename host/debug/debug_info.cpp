#include "debug/debug_info.h"

#include <cxxabi.h>
#include <dwarf.h>
#include <elfutils/libdw.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <tuple>
#include <utility>

namespace kivos::debug {
namespace {

std::string demangled(const char *name) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> plain(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return status == 0 && plain ? std::string(plain.get()) : std::string(name);
}

std::string normal_path(const char *path) {
    return std::filesystem::path(path).lexically_normal().string();
}

// The lowest address the image loads at: rows below it belong to functions
// the link dropped, which the line table keeps at address 0.
Dwarf_Addr lowest_address(Dwfl_Module *module) {
    Dwarf_Addr start = 0;
    dwfl_module_info(module, nullptr, &start, nullptr, nullptr, nullptr, nullptr, nullptr);
    return start;
}

std::string scope_name(Dwarf_Die *scope) {
    Dwarf_Attribute name;
    const char *text = dwarf_formstring(dwarf_attr_integrate(scope, DW_AT_name, &name));
    return text ? text : "??";
}

// Where an inlined function's body was put: its call's file and line.
std::pair<std::string, int> call_site(Dwarf_Die *unit, Dwarf_Die *inlined) {
    Dwarf_Attribute attribute;
    Dwarf_Word file = 0, line = 0;
    Dwarf_Files *files = nullptr;
    size_t count = 0;
    if (dwarf_formudata(dwarf_attr(inlined, DW_AT_call_file, &attribute), &file) != 0 ||
        dwarf_formudata(dwarf_attr(inlined, DW_AT_call_line, &attribute), &line) != 0 ||
        dwarf_getsrcfiles(unit, &files, &count) != 0 || file >= count)
        return {};
    const char *path = dwarf_filesrc(files, file, nullptr, nullptr);
    return {path ? normal_path(path) : std::string(), static_cast<int>(line)};
}

}  // namespace

DebugInfo::DebugInfo(const std::filesystem::path &image) : image_(image) {}

std::vector<Place> DebugInfo::places(uint32_t address) const {
    Place place;
    GElf_Off offset = 0;
    GElf_Sym symbol;
    if (const char *name = dwfl_module_addrinfo(image_.module(), address, &offset, &symbol, nullptr,
                                                nullptr, nullptr)) {
        place.function = demangled(name);
        place.offset = static_cast<uint32_t>(offset);
    }
    if (Dwfl_Line *line = dwfl_module_getsrc(image_.module(), address)) {
        int number = 0;
        if (const char *file = dwfl_lineinfo(line, nullptr, &number, nullptr, nullptr, nullptr)) {
            place.file = normal_path(file);
            place.line = number;
        }
    }
    std::vector<Place> chain;
    Dwarf_Addr bias = 0;
    Dwarf_Die *unit = dwfl_module_addrdie(image_.module(), address, &bias);
    Dwarf_Die *scopes = nullptr;
    const int count = unit ? dwarf_getscopes(unit, address - bias, &scopes) : 0;
    for (int i = 0; i < count; ++i) {
        if (dwarf_tag(&scopes[i]) != DW_TAG_inlined_subroutine) continue;
        chain.push_back({scope_name(&scopes[i]), 0, place.file, place.line, true});
        std::tie(place.file, place.line) = call_site(unit, &scopes[i]);
    }
    std::free(scopes);
    chain.push_back(std::move(place));
    return chain;
}

LineTable DebugInfo::line_table() const {
    LineTable table;
    Dwarf_Addr bias = 0;
    Dwarf *dwarf = dwfl_module_getdwarf(image_.module(), &bias);
    if (dwarf == nullptr) return table;
    const Dwarf_Addr lowest = lowest_address(image_.module());
    std::map<std::string, uint32_t> file_index;
    Dwarf_Off offset = 0, next = 0;
    size_t header_size = 0;
    while (dwarf_nextcu(dwarf, offset, &next, &header_size, nullptr, nullptr, nullptr) == 0) {
        Dwarf_Die unit;
        Dwarf_Lines *lines = nullptr;
        size_t count = 0;
        if (dwarf_offdie(dwarf, offset + header_size, &unit) != nullptr &&
            dwarf_getsrclines(&unit, &lines, &count) == 0) {
            for (size_t i = 0; i < count; ++i) {
                Dwarf_Line *line = dwarf_onesrcline(lines, i);
                Dwarf_Addr address = 0;
                int number = 0;
                bool end = false;
                const char *file = dwarf_linesrc(line, nullptr, nullptr);
                if (dwarf_lineaddr(line, &address) != 0 || dwarf_lineno(line, &number) != 0 ||
                    dwarf_lineendsequence(line, &end) != 0 || end || file == nullptr ||
                    number <= 0 || address + bias < lowest)
                    continue;
                const auto [at, added] = file_index.emplace(
                    normal_path(file), static_cast<uint32_t>(table.files.size()));
                if (added) table.files.push_back(at->first);
                table.rows.push_back({static_cast<uint32_t>(address + bias), at->second,
                                      static_cast<uint32_t>(number)});
            }
        }
        offset = next;
    }
    std::ranges::sort(table.rows, {}, &LineTable::Row::address);
    return table;
}

}  // namespace kivos::debug
