#include "harness/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness/guest.h"

namespace kivos::test {

ProcessResult run_process(const std::vector<std::string> &argv, const std::filesystem::path &folder,
                          const std::string &input) {
    const TempFolder files;
    const auto in = files.path() / "in", out = files.path() / "out", err = files.path() / "err";
    write_file(in, input);
    const pid_t child = fork();
    if (child == 0) {
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
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err)};
}

}  // namespace kivos::test
