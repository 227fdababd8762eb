// Streamed files: kivfs_stream_begin names the file and answers a handle,
// kivfs_stream_write adds to it, kivfs_stream_end writes it whole.
#include <kivos/abi.h>

#include <algorithm>

#include "emu/kernel.h"
#include "emu/process.h"

namespace kivos::emu {
namespace {

// As for write: one call takes at most this much and says how much it took.
constexpr uint32_t kLargestPiece = 1u << 20;

}  // namespace

// The folder must exist now; the path is fixed here, so a later chdir does not move the file.
int32_t Kernel::sys_stream_begin(const TrapFrame &frame, Process &process) {
    std::string path;
    if (const int32_t error = read_path(process.memory(), frame.args[0], path); error != 0)
        return error;
    if (const int32_t error = process.sandbox().check_leaf(path, true); error != 0) return error;
    return process.streams().begin(process.sandbox().absolute(path));
}

int32_t Kernel::sys_stream_write(const TrapFrame &frame, Process &process) {
    std::string bytes;
    const uint32_t count = std::min(frame.args[2], kLargestPiece);
    if (const int32_t error = process.memory().read(frame.args[1], count, bytes); error != 0)
        return error;
    return process.streams().append(static_cast<int32_t>(frame.args[0]), bytes);
}

// The file's size once written; the handle is closed whatever the outcome.
int32_t Kernel::sys_stream_end(const TrapFrame &frame, Process &process) {
    const std::optional<FileStreams::Stream> stream =
        process.streams().finish(static_cast<int32_t>(frame.args[0]));
    if (!stream) return -KIVOS_EBADF;
    if (const int32_t error = process.sandbox().write_file(stream->path, stream->bytes); error != 0)
        return error;
    return static_cast<int32_t>(stream->bytes.size());
}

}  // namespace kivos::emu
