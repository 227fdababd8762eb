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
    // Streams open at once in one process, and the bytes they hold together.
    static constexpr int32_t kMostOpen = 16;
    static constexpr uint32_t kMostBytes = 64u << 20;

    struct Stream {
        std::string path;  // absolute inside the sandbox, fixed at the beginning
        std::string bytes;
    };

    // The new handle (the lowest free from 1 up), or -EMFILE when too many are open.
    int32_t begin(std::string path);
    // The count taken: all of `bytes`, or -EBADF for no such handle, -EFBIG
    // when the streams would hold more than kMostBytes (nothing is taken then).
    int32_t append(int32_t handle, std::string_view bytes);
    // The stream, no longer open; nothing for no such handle.
    std::optional<Stream> finish(int32_t handle);

  private:
    std::map<int32_t, Stream> open_;
    uint32_t bytes_ = 0;
};

}  // namespace kivos::emu
