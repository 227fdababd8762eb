// kivos-run: runs a kivos image on the emulated kivos machine.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "emu/elf_image.h"
#include "emu/errors.h"
#include "emu/kernel.h"
#include "emu/machine.h"

namespace {

constexpr int kLimitReached = 124;
constexpr int kCannotRun = 125;
constexpr int kGuestFault = 126;

constexpr const char *kUsage = "Usage: kivos-run [OPTIONS] IMAGE [ARG...]";
constexpr const char *kFooter =
    "\nEverything after IMAGE goes to the guest, options included; the guest's\n"
    "argv[0] is IMAGE as given.\n\n"
    "Exit status: the guest's exit status (its low 8 bits), or\n"
    "  124  the instruction limit was reached\n"
    "  125  usage error, or the image cannot be loaded\n"
    "  126  the guest faulted (the report is on standard error)";

// Everything after the options belongs to the guest, which CLI11's own usage line leaves out.
class UsageFormatter : public CLI::Formatter {
  public:
    std::string make_usage(const CLI::App *, std::string) const override {
        return std::string(kUsage) + "\n";
    }
};

struct Settings {
    std::string root = ".";
    bool trace = false;
    bool stats = false;
    bool real_sleep = false;
    uint64_t limit = 0;
    std::vector<std::string> guest_argv;
};

void print_stats(uint64_t instructions, const kivos::emu::Trace &trace) {
    std::fprintf(stderr, "instructions: %llu\ntraps: %llu\n",
                 static_cast<unsigned long long>(instructions),
                 static_cast<unsigned long long>(trace.total()));
    std::vector<const kivos::emu::SyscallInfo *> made;
    for (const kivos::emu::SyscallInfo &call : kivos::emu::syscalls())
        if (trace.calls_of(call) != 0) made.push_back(&call);
    std::ranges::sort(made, {}, &kivos::emu::SyscallInfo::name);
    for (const kivos::emu::SyscallInfo *call : made)
        std::fprintf(stderr, "  %.*s: %llu\n", static_cast<int>(call->name.size()),
                     call->name.data(), static_cast<unsigned long long>(trace.calls_of(*call)));
    if (trace.unknown_calls() != 0)
        std::fprintf(stderr, "  unknown calls: %llu\n",
                     static_cast<unsigned long long>(trace.unknown_calls()));
}

int run(const Settings &settings) {
    using kivos::emu::RunResult;
    const std::string &image_path = settings.guest_argv.front();
    try {
        const auto image = kivos::emu::ElfImage::load(image_path);
        kivos::emu::Kernel kernel({.root = settings.root, .real_sleep = settings.real_sleep});
        kernel.trace().keep_records(false);
        if (settings.trace)
            kernel.trace().on_record([](const kivos::emu::TrapRecord &record) {
                std::fprintf(stderr, "%s\n", record.line.c_str());
            });
        kivos::emu::Machine machine(
            image, kernel,
            {.count_instructions = settings.stats, .instruction_limit = settings.limit});
        const RunResult result = machine.run_program(settings.guest_argv);
        if (settings.stats) print_stats(machine.instructions(), kernel.trace());
        switch (result.end) {
            case RunResult::End::exited:
                return result.status & 0xff;
            case RunResult::End::limit:
                std::fprintf(stderr, "kivos-run: %s\n", result.message.c_str());
                return kLimitReached;
            case RunResult::End::fault:
            case RunResult::End::returned:
                break;
        }
        std::fprintf(stderr, "kivos-run: %s\n",
                     result.end == RunResult::End::fault ? result.message.c_str()
                                                         : "guest returned from its entry");
        return kGuestFault;
    } catch (const kivos::emu::ImageError &error) {
        std::fprintf(stderr, "kivos-run: %s: %s\n", image_path.c_str(), error.what());
    } catch (const std::exception &error) {
        std::fprintf(stderr, "kivos-run: %s\n", error.what());
    }
    return kCannotRun;
}

}  // namespace

int main(int argc, char **argv) {
    // A closed console is an error result for the guest, not a signal for us.
    std::signal(SIGPIPE, SIG_IGN);

    Settings settings;
    CLI::App app{"Runs a kivos image on the emulated kivos machine.", "kivos-run"};
    app.prefix_command();
    app.footer(kFooter);
    app.formatter(std::make_shared<UsageFormatter>());
    app.add_option("--root", settings.root,
                   "Folder the guest sees as / (default: the current folder)");
    app.add_flag("--trace", settings.trace, "Print every trap to standard error as it happens");
    app.add_flag("--stats", settings.stats,
                 "Print instructions executed and traps per call after the run");
    app.add_option("--limit", settings.limit, "Stop the guest after N instructions");
    app.add_flag("--real-sleep", settings.real_sleep,
                 "Let usleep wait for real instead of on a virtual clock");
    app.set_version_flag("--version", "kivos-run " KIVOS_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion &version) {
        return app.exit(version);
    } catch (const CLI::ParseError &error) {
        app.exit(error);
        return kCannotRun;
    }
    settings.guest_argv = app.remaining();
    const bool separated = !settings.guest_argv.empty() && settings.guest_argv.front() == "--";
    if (separated) settings.guest_argv.erase(settings.guest_argv.begin());
    if (settings.guest_argv.empty()) {
        std::fprintf(stderr, "kivos-run: no image given\n%s\n%s\n", kUsage, kFooter);
        return kCannotRun;
    }
    // Unknown options before the image land here too; an image named "-x" follows "--".
    if (!separated && settings.guest_argv.front().starts_with('-')) {
        std::fprintf(stderr, "kivos-run: unknown option %s\n", settings.guest_argv.front().c_str());
        return kCannotRun;
    }
    return run(settings);
}
