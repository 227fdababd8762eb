// kivos-run: runs a kivos image on the emulated kivos machine.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "debug/crash_report.h"
#include "debug/lcov_file.h"
#include "debug/line_coverage.h"
#include "emu/elf_image.h"
#include "gdb/gdb_stub.h"
#include "emu/contained_run.h"
#include "emu/errors.h"
#include "emu/kernel.h"
#include "emu/scheduler.h"

namespace {

constexpr int kDeadlock = 123;
constexpr int kLimitReached = 124;
constexpr int kCannotRun = 125;
constexpr int kGuestFault = 126;
constexpr int kKilled = 137;  // as a shell reports a program ended by SIGKILL

constexpr const char *kGdbPort = "1234";

constexpr const char *kUsage = "Usage: kivos-run [OPTIONS] IMAGE [ARG...]";
constexpr const char *kFooter =
    "\nEverything after IMAGE goes to the guest, options included; the guest's\n"
    "argv[0] is IMAGE as given.\n\n"
    "Exit status: the guest's exit status (its low 8 bits), or\n"
    "  123  deadlock: every process waits for another\n"
    "  124  the instruction limit was reached\n"
    "  125  usage error, or the image cannot be loaded\n"
    "  126  the guest faulted (the report is on standard error)\n"
    "  137  the debugger ended the guest";

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
    std::string coverage;  // the tracefile, or empty
    std::optional<uint16_t> gdb_port;
    bool coverage_from_environment = false;
    std::vector<std::string> guest_argv;
};

void print_counts(uint64_t instructions, const kivos::emu::CallCounts &counts) {
    std::fprintf(stderr, "instructions: %llu\ntraps: %llu\n",
                 static_cast<unsigned long long>(instructions),
                 static_cast<unsigned long long>(counts.total()));
    std::vector<const kivos::emu::SyscallInfo *> made;
    for (const kivos::emu::SyscallInfo &call : kivos::emu::syscalls())
        if (counts.calls_of(call) != 0) made.push_back(&call);
    std::ranges::sort(made, {}, &kivos::emu::SyscallInfo::name);
    for (const kivos::emu::SyscallInfo *call : made)
        std::fprintf(stderr, "  %.*s: %llu\n", static_cast<int>(call->name.size()),
                     call->name.data(), static_cast<unsigned long long>(counts.calls_of(*call)));
    if (counts.unknown_calls() != 0)
        std::fprintf(stderr, "  unknown calls: %llu\n",
                     static_cast<unsigned long long>(counts.unknown_calls()));
}

// The whole run, then each process when there was more than one.
void print_stats(const kivos::emu::Scheduler &scheduler, const kivos::emu::Trace &trace) {
    print_counts(scheduler.instructions(), trace.counts());
    if (!scheduler.several()) return;
    for (const auto &process : scheduler.summaries()) {
        std::fprintf(stderr, "process %u (%s)\n", process.pid, process.name.c_str());
        print_counts(process.instructions, process.calls);
    }
}

// --gdb names its port when a number follows it, and means the default alone,
// so that `kivos-run --gdb IMAGE` takes IMAGE for the image.
std::vector<std::string> with_gdb_port(const CLI::App &app, int argc, char **argv) {
    std::vector<std::string> args(argv, argv + argc);
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--" || !arg.starts_with('-')) break;  // the guest's from here
        const bool names_port = i + 1 < args.size() && !args[i + 1].empty() &&
                                args[i + 1].find_first_not_of("0123456789") == std::string::npos;
        if (arg == "--gdb" && !names_port)
            args.insert(args.begin() + static_cast<long>(i) + 1, kGdbPort);
        const CLI::Option *option = app.get_option_no_throw(arg);
        if (option != nullptr && option->get_expected_min() > 0) ++i;  // its value
    }
    return args;
}

// The exit status for how the run ended; what went wrong goes to standard error.
int exit_status(const kivos::emu::RunResult &result) {
    using kivos::emu::RunResult;
    if (result.end == RunResult::End::exited) return result.status & 0xff;
    std::fprintf(stderr, "kivos-run: %s\n",
                 result.end == RunResult::End::returned ? "guest returned from its entry"
                                                        : result.message.c_str());
    switch (result.end) {
        case RunResult::End::limit:
            return kLimitReached;
        case RunResult::End::deadlock:
            return kDeadlock;
        case RunResult::End::killed:
            return kKilled;
        default:
            return kGuestFault;
    }
}

// --coverage, or KIVOS_COVERAGE for a whole test suite's runs. The tracefile
// is made (or checked) before the run, so that a bad one costs no run.
std::unique_ptr<kivos::debug::LineCoverage> start_coverage(const Settings &settings,
                                                           const std::string &image_path) {
    if (settings.coverage.empty()) return nullptr;
    kivos::debug::merge_into_tracefile(settings.coverage, {});
    auto coverage = std::make_unique<kivos::debug::LineCoverage>(image_path);
    if (coverage->has_lines()) return coverage;
    if (!settings.coverage_from_environment)
        std::fprintf(stderr, "kivos-run: %s has no line table (build it with -g): no coverage\n",
                     image_path.c_str());
    return nullptr;
}

std::unique_ptr<kivos::gdb::GdbStub> wait_for_gdb(uint16_t port, const std::string &image_path) {
    auto channel = kivos::gdb::RemoteChannel::accept_one(port, [&image_path](uint16_t bound) {
        std::fprintf(
            stderr, "kivos-run: waiting for gdb on 127.0.0.1:%u (gdb %s -ex 'target remote :%u')\n",
            bound, image_path.c_str(), bound);
    });
    return std::make_unique<kivos::gdb::GdbStub>(std::move(channel), [](const std::string &note) {
        std::fprintf(stderr, "kivos-run: %s\n", note.c_str());
    });
}

int run(const Settings &settings) {
    using kivos::emu::RunResult;
    const std::string &image_path = settings.guest_argv.front();
    try {
        const auto image = kivos::emu::ElfImage::load(image_path);
        kivos::emu::Kernel kernel({.root = settings.root, .real_sleep = settings.real_sleep});
        // The debugger and the coverage watch the first process: the command run.
        const auto coverage = start_coverage(settings, image_path);
        std::vector<kivos::emu::ExecutionObserver *> observers;
        if (coverage) observers.push_back(coverage.get());
        const auto debugger =
            settings.gdb_port ? wait_for_gdb(*settings.gdb_port, image_path) : nullptr;
        if (debugger) observers.push_back(debugger.get());
        kivos::emu::SchedulerOptions options;
        options.instruction_limit = settings.limit;
        options.keep_summaries = settings.stats;
        options.first_process_observers = observers;
        kivos::emu::Scheduler scheduler(kernel, options);
        kernel.trace().keep_records(false);
        if (settings.trace)
            kernel.trace().on_record([&scheduler](const kivos::emu::TrapRecord &record) {
                // Process ids appear once there is more than one process.
                if (scheduler.several()) std::fprintf(stderr, "[%u] ", record.pid);
                std::fprintf(stderr, "%s\n", record.line.c_str());
            });
        scheduler.on_report([](const std::string &report) {
            std::fprintf(stderr, "kivos-run: %s\n", report.c_str());
        });
        scheduler.on_fault([](const RunResult &result, const kivos::emu::Machine &machine,
                              const std::string &name) {
            return kivos::debug::crash_report(result, machine, name);
        });
        const RunResult result = scheduler.run(image, settings.guest_argv);
        if (settings.stats) print_stats(scheduler, kernel.trace());
        if (coverage) kivos::debug::merge_into_tracefile(settings.coverage, coverage->counts());
        return exit_status(result);
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
    app.add_option("--limit", settings.limit,
                   "Stop the run after N instructions of all its processes together");
    app.add_flag("--real-sleep", settings.real_sleep,
                 "Let usleep wait for real instead of on a virtual clock");
    app.add_option("--coverage", settings.coverage,
                   "Add the lines the guest ran to this lcov tracefile (default: $KIVOS_COVERAGE)");
    app.add_option("--gdb", settings.gdb_port,
                   "Wait for gdb on 127.0.0.1:PORT (default 1234; 0: any free port) before the "
                   "first instruction, and let it debug the guest")
        ->option_text("[PORT]");
    app.set_version_flag("--version", "kivos-run " KIVOS_VERSION);
    try {
        std::vector<std::string> args = with_gdb_port(app, argc, argv);
        std::vector<char *> pointers;
        for (std::string &arg : args) pointers.push_back(arg.data());
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::CallForHelp &help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion &version) {
        return app.exit(version);
    } catch (const CLI::ParseError &error) {
        app.exit(error);
        return kCannotRun;
    }
    if (const char *tracefile = std::getenv("KIVOS_COVERAGE");
        settings.coverage.empty() && tracefile != nullptr) {
        settings.coverage = tracefile;
        settings.coverage_from_environment = true;
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
    return kivos::emu::run_contained(
        "kivos-run", [&settings] { return run(settings); }, kGuestFault);
}
