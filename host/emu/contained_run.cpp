#include "emu/contained_run.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace kivos::emu {
namespace {

bool fault_inside(int signal) {
    switch (signal) {
        case SIGSEGV:
        case SIGBUS:
        case SIGILL:
        case SIGFPE:
        case SIGABRT:
        case SIGTRAP:
        case SIGSYS:
            return true;
        default:
            return false;
    }
}

[[noreturn]] void run_child(const std::function<int()> &work, pid_t parent) {
    // A child left behind by a killed tool would run on unwatched.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(SIGKILL + 128);
    const int status = work();
    std::fflush(nullptr);
    _exit(status);
}

}  // namespace

int run_contained(const char *tool, const std::function<int()> &work, int fault_status) {
    std::fflush(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork();
    // Without a child the run goes on unwatched rather than not at all.
    if (child < 0) return work();
    if (child == 0) run_child(work, parent);
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno == EINTR) continue;
        std::fprintf(stderr, "%s: lost the machine's process: %s\n", tool, std::strerror(errno));
        return fault_status;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    const int signal = WTERMSIG(status);
    if (fault_inside(signal)) {
        std::fprintf(stderr,
                     "%s: guest fault: the emulator failed (%s), the guest's state is lost\n", tool,
                     strsignal(signal));
        return fault_status;
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return 128 + signal;
}

}  // namespace kivos::emu
