#include "harness/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "harness/guest.h"

namespace kivos::test {

BackgroundProcess::BackgroundProcess(const std::vector<std::string> &argv,
                                     const std::filesystem::path &folder,
                                     const std::string &input) {
    const auto in = files_.path() / "in", out = files_.path() / "out", err = files_.path() / "err";
    write_file(in, input);
    pid_ = fork();
    if (pid_ == 0) {
        const int fds[] = {open(in.c_str(), O_RDONLY),
                           open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                           open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
        for (int i = 0; i < 3; ++i) dup2(fds[i], i);
        if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(98);
        std::vector<char *> args;
        for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(99);
    }
}

BackgroundProcess::~BackgroundProcess() {
    if (!status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::string BackgroundProcess::out() const {
    return read_file(files_.path() / "out");
}

std::string BackgroundProcess::err() const {
    return read_file(files_.path() / "err");
}

int BackgroundProcess::wait(std::chrono::seconds limit) {
    int status = 0;
    if (!status_ && !eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    if (!status_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return *status_;
}

ProcessResult run_process(const std::vector<std::string> &argv, const std::filesystem::path &folder,
                          const std::string &input) {
    BackgroundProcess process(argv, folder, input);
    const int status = process.wait();
    return {status, process.out(), process.err()};
}

bool eventually(const std::function<bool()> &condition, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace kivos::test
