// The command record and the package record of a kivos image, as the shell
// and the package tooling read them: an eight-byte header (four magic letters,
// a little-endian version of 1), two NUL-terminated ASCII strings back to
// back, zero fill to a multiple of four bytes, and nothing else in the section.
#pragma once

#include <kivos/abi.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "emu/elf_file.h"

namespace kivos::meta {

struct RecordField {
    std::string_view what;
    bool may_be_empty;
};

struct RecordKind {
    std::string_view record;  // how messages call it
    std::string_view section;
    std::string_view magic;
    RecordField first;
    RecordField second;
};

inline constexpr RecordKind kCommandRecord{"command record",
                                           KIVOS_COMMAND_SECTION,
                                           KIVOS_COMMAND_MAGIC,
                                           {"description", true},
                                           {"command name", false}};
inline constexpr RecordKind kPackageRecord{"package record",
                                           KIVOS_PACKAGE_SECTION,
                                           KIVOS_PACKAGE_MAGIC,
                                           {"package name", false},
                                           {"tag", true}};

struct RecordStrings {
    std::string first;
    std::string second;
};

// What a record section holds: the strings when both could be read, and every
// way the bytes depart from the record format (empty when they do not).
struct RecordReading {
    std::optional<RecordStrings> strings;
    std::vector<std::string> problems;
};

RecordReading read_record(std::span<const uint8_t> section, const RecordKind &kind);

struct CommandMeta {
    std::string name;
    std::string description;
    std::string package;
    std::string tag;
};

// Both records of an image; each problem begins with its section's name.
struct MetaReading {
    CommandMeta meta;
    std::vector<std::string> problems;
};

MetaReading read_meta(const emu::ElfFile &elf);

// Bytes as a quoted string that is safe to print whatever they hold.
std::string quoted(std::span<const uint8_t> bytes);

}  // namespace kivos::meta
