#include "meta/records.h"

#include <elf.h>

#include <algorithm>
#include <cstdio>

namespace kivos::meta {
namespace {

uint32_t little_endian32(std::span<const uint8_t> bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

bool printable(uint8_t byte) {
    return byte >= 0x20 && byte <= 0x7e;
}

std::string hex_byte(uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", byte);
    return text;
}

class RecordReader {
  public:
    RecordReader(std::span<const uint8_t> section, const RecordKind &kind)
        : section_(section), kind_(kind) {}

    RecordReading read() {
        if (section_.size() < KIVOS_RECORD_HEADER_SIZE) {
            problem("holds " + std::to_string(section_.size()) + " bytes, less than the " +
                    std::to_string(KIVOS_RECORD_HEADER_SIZE) + "-byte record header");
            return std::move(reading_);
        }
        check_header();
        size_t at = KIVOS_RECORD_HEADER_SIZE;
        std::optional<std::string> first = read_string(at, kind_.first);
        if (!first) return std::move(reading_);
        std::optional<std::string> second = read_string(at, kind_.second);
        if (!second) return std::move(reading_);
        reading_.strings = RecordStrings{std::move(*first), std::move(*second)};
        check_end(at);
        return std::move(reading_);
    }

  private:
    void problem(std::string text) { reading_.problems.push_back(std::move(text)); }

    bool magic_at(size_t at) const {
        if (section_.size() - at < KIVOS_RECORD_MAGIC_SIZE) return false;
        return std::equal(kind_.magic.begin(), kind_.magic.end(), section_.begin() + at);
    }

    void check_header() {
        if (!magic_at(0))
            problem("magic is " + quoted(section_.first(KIVOS_RECORD_MAGIC_SIZE)) + ", not \"" +
                    std::string(kind_.magic) + "\"");
        const uint32_t version = little_endian32(section_.subspan(KIVOS_RECORD_MAGIC_SIZE));
        if (version != KIVOS_RECORD_VERSION)
            problem("record version is " + std::to_string(version) + ", not " +
                    std::to_string(KIVOS_RECORD_VERSION));
    }

    // The string at `at`; moves `at` past its NUL.
    std::optional<std::string> read_string(size_t &at, const RecordField &field) {
        const auto rest = section_.subspan(at);
        const auto nul = std::find(rest.begin(), rest.end(), uint8_t{0});
        const std::string what(field.what);
        if (nul == rest.end()) {
            problem(what + " at offset " + std::to_string(at) +
                    " runs off the end of the section without its NUL");
            return std::nullopt;
        }
        const auto text = rest.first(static_cast<size_t>(nul - rest.begin()));
        const auto odd = std::find_if_not(text.begin(), text.end(), printable);
        if (odd != text.end())
            problem(what + " " + quoted(text) + " has the byte " + hex_byte(*odd) +
                    ", not printable ASCII");
        if (text.empty() && !field.may_be_empty) problem(what + " is empty");
        at += text.size() + 1;
        return std::string(text.begin(), text.end());
    }

    // After the strings: zero fill to a multiple of four, then the section's end.
    void check_end(size_t strings_end) {
        const size_t size = (strings_end + KIVOS_RECORD_FILL - 1) & ~size_t{KIVOS_RECORD_FILL - 1};
        const size_t fill_end = std::min(size, section_.size());
        for (size_t at = strings_end; at < fill_end; ++at) {
            if (section_[at] != 0) {
                problem("fill byte at offset " + std::to_string(at) + " is " +
                        hex_byte(section_[at]) + ", not 0");
                break;
            }
        }
        if (section_.size() < size) {
            problem("the record needs " + std::to_string(size) + " bytes with its zero fill; " +
                    "the section holds " + std::to_string(section_.size()));
        } else if (magic_at(size)) {
            problem("a second record at offset " + std::to_string(size) +
                    ": the section holds exactly one");
        } else if (section_.size() > size) {
            problem(std::to_string(section_.size() - size) +
                    " stray bytes after the record, which ends at offset " + std::to_string(size));
        }
    }

    std::span<const uint8_t> section_;
    const RecordKind &kind_;
    RecordReading reading_;
};

// The strings of one record of an image; problems are prefixed with its section.
std::optional<RecordStrings> read_image_record(const emu::ElfFile &elf, const RecordKind &kind,
                                               std::vector<std::string> &problems) {
    const std::string prefix = std::string(kind.section) + ": ";
    const emu::ElfSection *section = elf.section(kind.section);
    if (section == nullptr) {
        problems.push_back(prefix + "missing: the image has no " + std::string(kind.record));
        return std::nullopt;
    }
    if (section->type != SHT_PROGBITS) {
        problems.push_back(prefix + "holds no bytes in the file (section type " +
                           std::to_string(section->type) + ")");
        return std::nullopt;
    }
    RecordReading reading = read_record(elf.contents(*section), kind);
    for (const std::string &problem : reading.problems) problems.push_back(prefix + problem);
    return reading.strings;
}

}  // namespace

std::string quoted(std::span<const uint8_t> bytes) {
    std::string text = "\"";
    for (const uint8_t byte : bytes) {
        if (byte == '"' || byte == '\\') {
            text += '\\';
            text += static_cast<char>(byte);
        } else if (printable(byte)) {
            text += static_cast<char>(byte);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            text += escape;
        }
    }
    return text + "\"";
}

RecordReading read_record(std::span<const uint8_t> section, const RecordKind &kind) {
    return RecordReader(section, kind).read();
}

MetaReading read_meta(const emu::ElfFile &elf) {
    MetaReading reading;
    if (auto command = read_image_record(elf, kCommandRecord, reading.problems)) {
        reading.meta.description = std::move(command->first);
        reading.meta.name = std::move(command->second);
    }
    if (auto package = read_image_record(elf, kPackageRecord, reading.problems)) {
        reading.meta.package = std::move(package->first);
        reading.meta.tag = std::move(package->second);
    }
    return reading;
}

}  // namespace kivos::meta
