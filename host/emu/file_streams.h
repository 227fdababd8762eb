// Files a process writes piece by piece (kivfs_stream_begin, _write, _end).
// The machine holds the pieces until the end call writes the file whole, so
// no one ever sees half a file, and a process that ends before it leaves none.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kivos::emu {

class FileStreams {
  public:
    // Streams open at once in one process, and the largest streamed file.
    static constexpr int32_t kMostOpen = 16;
    static constexpr uint32_t kLargestFile = 64u << 20;

    struct Stream {
        std::string path;  // absolute inside the sandbox, fixed at the beginning
        std::string bytes;
    };

    // The new handle (the lowest free from 1 up), or -24 when too many are open.
    int32_t begin(std::string path);
    // The count taken: all of `bytes`, or -9 for no such handle, -27 when the
    // file would outgrow kLargestFile (nothing is taken then).
    int32_t append(int32_t handle, std::string_view bytes);
    // The stream, no longer open; nothing for no such handle.
    std::optional<Stream> finish(int32_t handle);

  private:
    std::map<int32_t, Stream> open_;
};

}  // namespace kivos::emu
