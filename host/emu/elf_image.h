// A kivos program image: an ELF32 i386 static executable that the loader
// accepts, with its loadable segments checked against the address space.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "emu/elf_file.h"

namespace kivos::emu {

struct Segment {
    uint32_t vaddr;
    uint32_t memsz;
    uint32_t filesz;
    uint32_t offset;
    bool readable;
    bool writable;
    bool executable;
};

class ElfImage {
  public:
    // Throws ImageError with a one-line reason when the file cannot run on kivos.
    explicit ElfImage(ElfFile file);
    static ElfImage load(const std::filesystem::path &path);

    uint32_t entry() const { return file_.entry(); }
    const std::vector<Segment> &segments() const { return segments_; }
    // The bytes a segment takes from the file; the rest of memsz is zero.
    std::span<const uint8_t> contents(const Segment &segment) const;
    const ElfFile &file() const { return file_; }

  private:
    void check_kind() const;
    void collect_segments();
    void check_placement() const;

    ElfFile file_;
    std::vector<Segment> segments_;
};

}  // namespace kivos::emu
