// A bounds-checked reader of ELF32 little-endian files: header, program
// headers, sections and the symbol table. It decides nothing about whether an
// image can run; ElfImage does that.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kivos::emu {

struct ElfProgramHeader {
    uint32_t type;
    uint32_t offset;
    uint32_t vaddr;
    uint32_t filesz;
    uint32_t memsz;
    uint32_t flags;
};

struct ElfSection {
    std::string name;
    uint32_t type;
    uint32_t flags;
    uint32_t addr;
    uint32_t offset;
    uint32_t size;
    uint32_t link;
    uint32_t entsize;
};

struct ElfSymbol {
    std::string name;
    uint32_t value;
    uint32_t size;
    uint8_t info;
    uint16_t shndx;
};

class ElfFile {
  public:
    // Throws ImageError when the bytes are not a well-formed ELF32 little-endian file.
    explicit ElfFile(std::vector<uint8_t> bytes);
    static ElfFile read(const std::filesystem::path &path);

    uint16_t type() const { return type_; }
    uint16_t machine() const { return machine_; }
    uint32_t entry() const { return entry_; }
    uint64_t size() const { return bytes_.size(); }

    const std::vector<ElfProgramHeader> &program_headers() const { return program_headers_; }
    const std::vector<ElfSection> &sections() const { return sections_; }
    const ElfSection *section(std::string_view name) const;
    // The file bytes of a section (empty for SHT_NOBITS).
    std::span<const uint8_t> contents(const ElfSection &section) const;
    // Bytes [offset, offset + size) of the file; the range was checked by the caller's header.
    std::span<const uint8_t> bytes(uint32_t offset, uint32_t size) const;

    const std::vector<ElfSymbol> &symbols() const { return symbols_; }
    std::optional<ElfSymbol> symbol(std::string_view name) const;

  private:
    void read_header();
    void read_program_headers(uint32_t offset, uint16_t count, uint16_t entry_size);
    void read_sections(uint32_t offset, uint16_t count, uint16_t entry_size, uint16_t names_index);
    void read_symbols();

    std::vector<uint8_t> bytes_;
    uint16_t type_ = 0;
    uint16_t machine_ = 0;
    uint32_t entry_ = 0;
    std::vector<ElfProgramHeader> program_headers_;
    std::vector<ElfSection> sections_;
    std::vector<ElfSymbol> symbols_;
};

}  // namespace kivos::emu
