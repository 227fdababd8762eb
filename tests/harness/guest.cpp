#include "harness/guest.h"

#include <unicorn/unicorn.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "harness/coverage.h"

namespace kivos::test {
namespace {

constexpr uint32_t kPage = 4096;
constexpr uint32_t kScratchBase = 0x20000000;
constexpr uint32_t kScratchSize = 16u << 20;
constexpr uint32_t kEdgeBase = 0x30000000;
constexpr uint32_t kAlignment = 16;
constexpr uint32_t kLongestString = 1u << 20;

std::string le32(uint32_t value) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

void check_memory(int32_t error, uint32_t address) {
    if (error != 0)
        throw std::runtime_error("guest address " + std::to_string(address) + " is not usable (" +
                                 std::to_string(error) + ")");
}

}  // namespace

std::vector<uint32_t> words64(uint64_t value) {
    return {static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
}

std::string read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::filesystem::path &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kivos-guest-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a sandbox folder");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

Guest::Guest(GuestOptions options)
    : options_(std::move(options)),
      image_(emu::ElfImage::load(options_.image)),
      next_edge_(kEdgeBase) {
    kernel_ = std::make_unique<emu::Kernel>(
        emu::KernelOptions{.root = sandbox_.path(), .real_sleep = false});
    kernel_->console().capture();
    kernel_->input().provide("");
    process_ = std::make_unique<emu::Process>(
        *kernel_, 1, image_,
        emu::MachineOptions{.count_instructions = options_.count_instructions,
                            .instruction_limit = options_.instruction_limit,
                            .count_each_instruction = options_.count_each_instruction,
                            .pinned_tsc = options_.pinned_tsc,
                            .observers = coverage_observers(options_.image)},
        kernel_->root(), kernel_->console_descriptors());
    process_->machine().map(kScratchBase, kScratchSize, UC_PROT_READ | UC_PROT_WRITE);
}

Guest::Guest(const char *image)
    : Guest([image] {
          GuestOptions options;
          options.image = image;
          return options;
      }()) {}

uint32_t Guest::symbol(std::string_view name) const {
    const auto found = image_.file().symbol(name);
    if (!found) throw std::runtime_error("the image has no symbol " + std::string(name));
    return found->value;
}

void Guest::run_call(std::string_view function, const std::vector<uint32_t> &args) {
    const RunResult result = process_->machine().call(symbol(function), args);
    switch (result.end) {
        case RunResult::End::returned:
            return;
        case RunResult::End::exited:
            exit_status_ = result.status;
            return;
        case RunResult::End::blocked:
        case RunResult::End::preempted:
        case RunResult::End::deadlock:
            throw GuestFault("the call waits for something no other process can do");
        case RunResult::End::fault:
        case RunResult::End::limit:
        case RunResult::End::killed:
            throw GuestFault(result.message);
    }
}

uint32_t Guest::call(std::string_view function, std::vector<uint32_t> args) {
    run_call(function, args);
    return process_->machine().eax();
}

std::string Guest::fault_of(std::string_view function, std::vector<uint32_t> args) {
    try {
        run_call(function, args);
        return "";
    } catch (const GuestFault &fault) {
        return fault.what();
    }
}

uint64_t Guest::call64(std::string_view function, std::vector<uint32_t> args) {
    run_call(function, args);
    return uint64_t{process_->machine().edx()} << 32 | process_->machine().eax();
}

long double Guest::call_x87(std::string_view function, std::vector<uint32_t> args) {
    run_call(function, args);
    return process_->machine().st0();
}

RunResult Guest::run_program(std::vector<std::string> argv) {
    RunResult result = process_->machine().run_program(argv);
    if (result.end == RunResult::End::exited) exit_status_ = result.status;
    return result;
}

uint32_t Guest::reserve(size_t n, uint8_t fill) {
    const uint32_t start = (scratch_used_ + kAlignment - 1) & ~(kAlignment - 1);
    if (n > kScratchSize - start) throw std::runtime_error("scratch memory exhausted");
    scratch_used_ = start + static_cast<uint32_t>(n);
    const uint32_t address = kScratchBase + start;
    write(address, std::string(n, static_cast<char>(fill)));
    return address;
}

uint32_t Guest::place(std::string_view bytes) {
    const uint32_t address = reserve(bytes.size());
    write(address, bytes);
    return address;
}

uint32_t Guest::place_string(std::string_view s) {
    return place(std::string(s) + '\0');
}

namespace {

uint32_t pages_for(std::string_view bytes) {
    return std::max<uint32_t>(1, static_cast<uint32_t>((bytes.size() + kPage - 1) / kPage));
}

}  // namespace

uint32_t Guest::place_code(std::string_view bytes) {
    const uint32_t address = next_edge_, size = pages_for(bytes) * kPage;
    process_->machine().map(address, size, UC_PROT_READ | UC_PROT_EXEC, bytes);
    next_edge_ += size + kPage;
    return address;
}

uint32_t Guest::place_at_edge(std::string_view bytes) {
    const uint32_t pages = pages_for(bytes);
    const uint32_t end = next_edge_ + pages * kPage;
    process_->machine().map(next_edge_, pages * kPage, UC_PROT_READ | UC_PROT_WRITE);
    // The page after `end` stays unmapped: the next region starts one page later.
    next_edge_ = end + kPage;
    const uint32_t address = end - static_cast<uint32_t>(bytes.size());
    write(address, bytes);
    return address;
}

std::string Guest::read(uint32_t address, size_t n) const {
    std::string bytes;
    check_memory(process_->machine().memory().read(address, static_cast<uint32_t>(n), bytes),
                 address);
    return bytes;
}

std::string Guest::read_string(uint32_t address) const {
    std::string text;
    check_memory(process_->machine().memory().read_string(address, kLongestString, text), address);
    return text;
}

uint32_t Guest::read32(uint32_t address) const {
    uint32_t value = 0;
    std::memcpy(&value, read(address, 4).data(), 4);
    return value;
}

void Guest::write(uint32_t address, std::string_view bytes) {
    check_memory(process_->machine().memory().write(address, bytes), address);
}

void Guest::write32(uint32_t address, uint32_t value) {
    write(address, le32(value));
}

const std::vector<emu::TrapRecord> &Guest::trace() const {
    return kernel_->trace().records();
}
std::vector<uint32_t> Guest::traps(uint32_t number, size_t reg) const {
    std::vector<uint32_t> values;
    for (const emu::TrapRecord &trap : trace())
        if (trap.number == number) values.push_back(trap.args[reg]);
    return values;
}
std::vector<uint32_t> Guest::trap_numbers() const {
    std::vector<uint32_t> numbers;
    for (const emu::TrapRecord &trap : trace()) numbers.push_back(trap.number);
    return numbers;
}
void Guest::clear_trace() {
    kernel_->trace().clear();
}
std::string &Guest::console() {
    return kernel_->console().captured();
}
void Guest::set_stdin(std::string bytes) {
    kernel_->input().provide(std::move(bytes));
}
emu::FaultInjection &Guest::faults() {
    return kernel_->faults();
}
uint64_t Guest::instructions() const {
    return process_->machine().instructions();
}
uint64_t Guest::tsc_reads() const {
    return process_->machine().tsc_reads();
}

}  // namespace kivos::test
