#include "emu/file_streams.h"

#include <kivos/abi.h>

namespace kivos::emu {

int32_t FileStreams::begin(std::string path) {
    int32_t handle = 1;
    while (open_.contains(handle)) ++handle;
    if (handle > kMostOpen) return -KIVOS_EMFILE;
    open_.emplace(handle, Stream{std::move(path), {}});
    return handle;
}

int32_t FileStreams::append(int32_t handle, std::string_view bytes) {
    const auto found = open_.find(handle);
    if (found == open_.end()) return -KIVOS_EBADF;
    if (bytes.size() > kMostBytes - bytes_) return -KIVOS_EFBIG;
    found->second.bytes.append(bytes);
    bytes_ += static_cast<uint32_t>(bytes.size());
    return static_cast<int32_t>(bytes.size());
}

std::optional<FileStreams::Stream> FileStreams::finish(int32_t handle) {
    const auto found = open_.find(handle);
    if (found == open_.end()) return std::nullopt;
    Stream stream = std::move(found->second);
    open_.erase(found);
    bytes_ -= static_cast<uint32_t>(stream.bytes.size());
    return stream;
}

}  // namespace kivos::emu
