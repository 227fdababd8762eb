#include "emu/elf_file.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "emu/errors.h"
#include "emu/owned_fd.h"

namespace kivos::emu {
namespace {

constexpr uint32_t kHeaderSize = sizeof(Elf32_Ehdr);
constexpr uint32_t kProgramHeaderSize = sizeof(Elf32_Phdr);
constexpr uint32_t kSectionHeaderSize = sizeof(Elf32_Shdr);
constexpr uint32_t kSymbolSize = sizeof(Elf32_Sym);

// A kivos image has four program headers and its tools a few more; thousands
// would only make loading slow.
constexpr uint16_t kMostProgramHeaders = 64;
// Twice the largest segment the loader maps leaves room for debug information,
// and bounds what reading a file can cost.
constexpr uint64_t kLargestFile = 512u << 20;

[[noreturn]] void refuse(const std::string &reason) {
    throw ImageError(reason);
}

bool fits(uint64_t offset, uint64_t size, uint64_t total) {
    return offset <= total && size <= total - offset;
}

// Little-endian fields at checked offsets.
class Reader {
  public:
    explicit Reader(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}

    uint8_t u8(uint64_t at) const { return at_(at, 1)[0]; }
    uint16_t u16(uint64_t at) const {
        const uint8_t *p = at_(at, 2);
        return static_cast<uint16_t>(p[0] | p[1] << 8);
    }
    uint32_t u32(uint64_t at) const {
        const uint8_t *p = at_(at, 4);
        return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    }
    // A NUL-terminated name inside the table [table, table + size).
    std::string name(uint32_t table, uint32_t size, uint32_t index) const {
        if (index >= size) refuse("name index out of its string table");
        const char *start = reinterpret_cast<const char *>(at_(table + uint64_t{index}, 1));
        const void *end = std::memchr(start, 0, size - index);
        if (end == nullptr) refuse("unterminated name in a string table");
        return std::string(start, static_cast<const char *>(end));
    }

  private:
    const uint8_t *at_(uint64_t at, uint64_t size) const {
        if (!fits(at, size, bytes_.size())) refuse("truncated file");
        return bytes_.data() + at;
    }
    const std::vector<uint8_t> &bytes_;
};

[[noreturn]] void refuse_with_errno(const char *what) {
    refuse(std::string(what) + ": " + std::strerror(errno));
}

// The first `size` bytes of the file, fewer when it is shorter.
std::vector<uint8_t> read_start(int fd, uint64_t size) {
    std::vector<uint8_t> bytes(size);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) refuse_with_errno("cannot read");
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

// The identification bytes, before anything larger is read or trusted.
void check_identity(std::span<const uint8_t> bytes) {
    if (bytes.size() < SELFMAG || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0)
        refuse("not an ELF file");
    if (bytes.size() < EI_NIDENT) refuse("truncated ELF header");
    if (bytes[EI_CLASS] == ELFCLASS64) refuse("64-bit ELF file; kivos images are ELF32");
    if (bytes[EI_CLASS] != ELFCLASS32)
        refuse("unknown ELF class " + std::to_string(bytes[EI_CLASS]));
    if (bytes[EI_DATA] != ELFDATA2LSB) refuse("not a little-endian ELF file");
    if (bytes[EI_VERSION] != EV_CURRENT) refuse("unknown ELF version");
    if (bytes.size() < kHeaderSize) refuse("truncated ELF header");
}

}  // namespace

ElfFile::ElfFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    read_header();
}

// The header is checked before the rest is read, so a large file that is no
// image costs nothing, and only a regular file is read at all: a FIFO or a
// device would block or never end.
ElfFile ElfFile::read(const std::filesystem::path &path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) refuse_with_errno("cannot open");
    if (S_ISDIR(status.st_mode)) refuse("is a folder, not an image");
    if (!S_ISREG(status.st_mode)) refuse("not a regular file");
    const OwnedFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) refuse_with_errno("cannot open");
    if (::fstat(fd.get(), &status) != 0) refuse_with_errno("cannot read");
    if (!S_ISREG(status.st_mode)) refuse("not a regular file");
    check_identity(read_start(fd.get(), kHeaderSize));
    const auto size = static_cast<uint64_t>(status.st_size);
    if (size > kLargestFile)
        refuse("larger than any kivos image (" + std::to_string(size) + " bytes)");
    return ElfFile(read_start(fd.get(), size));
}

void ElfFile::read_header() {
    check_identity(bytes_);

    const Reader in(bytes_);
    os_abi_ = bytes_[EI_OSABI];
    version_ = in.u32(offsetof(Elf32_Ehdr, e_version));
    type_ = in.u16(offsetof(Elf32_Ehdr, e_type));
    machine_ = in.u16(offsetof(Elf32_Ehdr, e_machine));
    entry_ = in.u32(offsetof(Elf32_Ehdr, e_entry));
    if (in.u16(offsetof(Elf32_Ehdr, e_ehsize)) < kHeaderSize) refuse("ELF header size too small");
    read_program_headers(in.u32(offsetof(Elf32_Ehdr, e_phoff)),
                         in.u16(offsetof(Elf32_Ehdr, e_phnum)),
                         in.u16(offsetof(Elf32_Ehdr, e_phentsize)));
    read_sections(in.u32(offsetof(Elf32_Ehdr, e_shoff)), in.u16(offsetof(Elf32_Ehdr, e_shnum)),
                  in.u16(offsetof(Elf32_Ehdr, e_shentsize)),
                  in.u16(offsetof(Elf32_Ehdr, e_shstrndx)));
    read_symbols();
}

void ElfFile::read_program_headers(uint32_t offset, uint16_t count, uint16_t entry_size) {
    if (count == 0) return;
    if (count > kMostProgramHeaders)
        refuse(std::to_string(count) + " program headers; a kivos image has at most " +
               std::to_string(kMostProgramHeaders));
    if (entry_size != kProgramHeaderSize) refuse("unexpected program header size");
    if (!fits(offset, uint64_t{count} * kProgramHeaderSize, bytes_.size()))
        refuse("program headers lie outside the file");
    const Reader in(bytes_);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at = offset + uint64_t{i} * kProgramHeaderSize;
        program_headers_.push_back({
            .type = in.u32(at + offsetof(Elf32_Phdr, p_type)),
            .offset = in.u32(at + offsetof(Elf32_Phdr, p_offset)),
            .vaddr = in.u32(at + offsetof(Elf32_Phdr, p_vaddr)),
            .filesz = in.u32(at + offsetof(Elf32_Phdr, p_filesz)),
            .memsz = in.u32(at + offsetof(Elf32_Phdr, p_memsz)),
            .flags = in.u32(at + offsetof(Elf32_Phdr, p_flags)),
            .align = in.u32(at + offsetof(Elf32_Phdr, p_align)),
        });
    }
}

void ElfFile::read_sections(uint32_t offset, uint16_t count, uint16_t entry_size,
                            uint16_t names_index) {
    if (offset == 0 || count == 0) return;
    if (entry_size != kSectionHeaderSize) refuse("unexpected section header size");
    if (!fits(offset, uint64_t{count} * kSectionHeaderSize, bytes_.size()))
        refuse("section headers lie outside the file");
    if (names_index >= count) refuse("section name table index out of range");

    const Reader in(bytes_);
    std::vector<uint32_t> name_offsets;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at = offset + uint64_t{i} * kSectionHeaderSize;
        ElfSection section{
            .name = {},
            .type = in.u32(at + offsetof(Elf32_Shdr, sh_type)),
            .flags = in.u32(at + offsetof(Elf32_Shdr, sh_flags)),
            .addr = in.u32(at + offsetof(Elf32_Shdr, sh_addr)),
            .offset = in.u32(at + offsetof(Elf32_Shdr, sh_offset)),
            .size = in.u32(at + offsetof(Elf32_Shdr, sh_size)),
            .link = in.u32(at + offsetof(Elf32_Shdr, sh_link)),
            .addralign = in.u32(at + offsetof(Elf32_Shdr, sh_addralign)),
            .entsize = in.u32(at + offsetof(Elf32_Shdr, sh_entsize)),
        };
        if (section.type != SHT_NOBITS && section.type != SHT_NULL &&
            !fits(section.offset, section.size, bytes_.size()))
            refuse("section " + std::to_string(i) + " lies outside the file");
        name_offsets.push_back(in.u32(at + offsetof(Elf32_Shdr, sh_name)));
        sections_.push_back(std::move(section));
    }
    const ElfSection &names = sections_[names_index];
    if (names.type != SHT_STRTAB) refuse("section name table is not a string table");
    for (size_t i = 0; i < sections_.size(); ++i)
        sections_[i].name = in.name(names.offset, names.size, name_offsets[i]);
}

void ElfFile::read_symbols() {
    const ElfSection *table = nullptr;
    for (const ElfSection &section : sections_)
        if (section.type == SHT_SYMTAB) table = &section;
    if (table == nullptr) return;
    if (table->entsize != kSymbolSize) refuse("unexpected symbol size");
    if (table->link >= sections_.size() || sections_[table->link].type != SHT_STRTAB)
        refuse("symbol table without a string table");
    const ElfSection &names = sections_[table->link];

    const Reader in(bytes_);
    for (uint32_t i = 0; i < table->size / kSymbolSize; ++i) {
        const uint64_t at = table->offset + uint64_t{i} * kSymbolSize;
        symbols_.push_back({
            .name = in.name(names.offset, names.size, in.u32(at + offsetof(Elf32_Sym, st_name))),
            .value = in.u32(at + offsetof(Elf32_Sym, st_value)),
            .size = in.u32(at + offsetof(Elf32_Sym, st_size)),
            .info = in.u8(at + offsetof(Elf32_Sym, st_info)),
            .shndx = in.u16(at + offsetof(Elf32_Sym, st_shndx)),
        });
    }
}

const ElfSection *ElfFile::section(std::string_view name) const {
    for (const ElfSection &section : sections_)
        if (section.name == name) return &section;
    return nullptr;
}

std::span<const uint8_t> ElfFile::contents(const ElfSection &section) const {
    if (section.type == SHT_NOBITS || section.type == SHT_NULL) return {};
    return bytes(section.offset, section.size);
}

std::span<const uint8_t> ElfFile::bytes(uint32_t offset, uint32_t size) const {
    if (!fits(offset, size, bytes_.size())) throw ImageError("range lies outside the file");
    return std::span<const uint8_t>(bytes_).subspan(offset, size);
}

std::optional<ElfSymbol> ElfFile::symbol(std::string_view name) const {
    for (const ElfSymbol &symbol : symbols_)
        if (symbol.name == name && symbol.shndx != SHN_UNDEF) return symbol;
    return std::nullopt;
}

}  // namespace kivos::emu
