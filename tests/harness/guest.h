// A kivos machine for one test: the test image (or another) loaded, a fresh
// sandbox folder as its root, the console captured and standard input empty.
// Tests call the image's functions by symbol and read back results, guest
// memory and the trap trace.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "emu/elf_image.h"
#include "emu/fault_injection.h"
#include "emu/kernel.h"
#include "emu/machine.h"
#include "emu/process.h"
#include "emu/run_result.h"
#include "emu/trace.h"

namespace kivos::test {

using emu::RunResult;

struct GuestOptions {
    bool count_instructions = false;
    uint64_t instruction_limit = 0;       // 0: none
    bool count_each_instruction = false;  // the slow reference count
    std::optional<uint64_t> pinned_tsc;   // what every rdtsc reads, instead of host time
    std::filesystem::path image = KIVOS_TEST_IMAGE;
};

// A call that faulted or ran into the instruction limit; what() is the report.
class GuestFault : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A 64-bit argument as the two words cdecl pushes for it, low word first.
std::vector<uint32_t> words64(uint64_t value);

// The whole file, or "" when it cannot be read.
std::string read_file(const std::filesystem::path &path);
void write_file(const std::filesystem::path &path, const std::string &bytes);

// A fresh folder under the host's temporary folder, removed with everything in it.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::filesystem::path &path() const { return path_; }

  private:
    std::filesystem::path path_;
};

class Guest {
  public:
    explicit Guest(GuestOptions options = {});
    explicit Guest(const char *image);
    Guest(const Guest &) = delete;
    Guest &operator=(const Guest &) = delete;

    // The address of a symbol of the image; throws when it has none.
    uint32_t symbol(std::string_view name) const;

    // cdecl calls, arguments pushed right to left (variadic ones the same: pass
    // every word). A call that reaches _exit returns and sets exit_status().
    uint32_t call(std::string_view function, std::vector<uint32_t> args = {});
    uint64_t call64(std::string_view function, std::vector<uint32_t> args = {});       // edx:eax
    long double call_x87(std::string_view function, std::vector<uint32_t> args = {});  // st(0)
    std::optional<int32_t> exit_status() const { return exit_status_; }
    // The report of a call that faults or runs into the limit; "" when it returns.
    std::string fault_of(std::string_view function, std::vector<uint32_t> args = {});

    // Runs the image from its entry point; the result is returned, not thrown.
    RunResult run_program(std::vector<std::string> argv);

    // Scratch memory, 16-byte aligned.
    uint32_t place(std::string_view bytes);
    uint32_t place_string(std::string_view s);  // with a NUL
    uint32_t reserve(size_t n, uint8_t fill = 0);
    // The bytes end exactly where an unmapped page begins; each call its own page.
    uint32_t place_at_edge(std::string_view bytes);
    // Code on pages of its own, loaded as an image's code is; its address.
    uint32_t place_code(std::string_view bytes);

    // Guest memory; these throw std::runtime_error on an address the guest could not use.
    std::string read(uint32_t address, size_t n) const;
    std::string read_string(uint32_t address) const;
    uint32_t read32(uint32_t address) const;
    uint32_t read_symbol(std::string_view name) const { return read32(symbol(name)); }
    void write(uint32_t address, std::string_view bytes);
    void write32(uint32_t address, uint32_t value);

    const std::vector<emu::TrapRecord> &trace() const;
    // Register `reg` (0 is ebx) of every trap of call `number`, in order.
    std::vector<uint32_t> traps(uint32_t number, size_t reg = 2) const;
    std::vector<uint32_t> trap_numbers() const;
    void clear_trace();
    std::string &console();  // what the guest wrote to descriptor 1
    void set_stdin(std::string bytes);
    emu::FaultInjection &faults();
    emu::Kernel &kernel() { return *kernel_; }
    const std::filesystem::path &root() const { return sandbox_.path(); }
    uint64_t instructions() const;  // of the last call or run, when counting
    uint64_t tsc_reads() const;     // rdtsc executed so far, when the counter is pinned

  private:
    void run_call(std::string_view function, const std::vector<uint32_t> &args);

    GuestOptions options_;
    TempFolder sandbox_;
    emu::ElfImage image_;
    std::unique_ptr<emu::Kernel> kernel_;
    std::unique_ptr<emu::Process> process_;
    std::optional<int32_t> exit_status_;
    uint32_t scratch_used_ = 0;
    uint32_t next_edge_;
};

}  // namespace kivos::test
