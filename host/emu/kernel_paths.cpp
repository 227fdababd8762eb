// Calls that name files and folders; every path stays inside the sandbox.
#include <kivos/abi.h>

#include <string>

#include "emu/kernel.h"
#include "emu/process.h"

namespace kivos::emu {

int32_t Kernel::read_path(const GuestMemory &memory, uint32_t address, std::string &path) {
    return memory.read_string(address, kLongestPath, path);
}

int32_t Kernel::sys_writefile(const TrapFrame &frame, Process &process) {
    std::string path;
    std::string bytes;
    if (const int32_t error = read_path(process.memory(), frame.args[0], path); error != 0)
        return error;
    if (const int32_t error = process.memory().read(frame.args[1], frame.args[2], bytes);
        error != 0)
        return error;
    if (const int32_t error = process.sandbox().write_file(path, bytes); error != 0) return error;
    return static_cast<int32_t>(bytes.size());
}

// Stores the folder NUL-terminated and answers the buffer's address.
int32_t Kernel::sys_getcwd(const TrapFrame &frame, Process &process) {
    const std::string &cwd = process.sandbox().cwd();
    const uint32_t size = static_cast<uint32_t>(cwd.size()) + 1;
    if (frame.args[1] < size) return -KIVOS_ERANGE;
    if (const int32_t error =
            process.memory().write(frame.args[0], std::string_view(cwd.c_str(), size));
        error != 0)
        return error;
    // What a C caller of getcwd expects back.
    return static_cast<int32_t>(frame.args[0]);
}

int32_t Kernel::sys_chdir(const TrapFrame &frame, Process &process) {
    std::string path;
    if (const int32_t error = read_path(process.memory(), frame.args[0], path); error != 0)
        return error;
    return process.sandbox().change_directory(path);
}

int32_t Kernel::sys_mkdir(const TrapFrame &frame, Process &process) {
    std::string path;
    if (const int32_t error = read_path(process.memory(), frame.args[0], path); error != 0)
        return error;
    return process.sandbox().make_directory(path);
}

int32_t Kernel::sys_unlink(const TrapFrame &frame, Process &process) {
    std::string path;
    if (const int32_t error = read_path(process.memory(), frame.args[0], path); error != 0)
        return error;
    if (named_pipes_.erase(pipe_name(path, process)) == 1) return 0;
    return process.sandbox().remove_file(path);
}

int32_t Kernel::sys_rmdir(const TrapFrame &frame, Process &process) {
    std::string path;
    if (const int32_t error = read_path(process.memory(), frame.args[0], path); error != 0)
        return error;
    return process.sandbox().remove_directory(path);
}

}  // namespace kivos::emu
