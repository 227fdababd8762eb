#include "emu/pipe.h"

#include <kivos/abi.h>

#include <algorithm>

namespace kivos::emu {

class PipeEnd final : public Channel {
  public:
    PipeEnd(std::shared_ptr<Pipe> pipe, bool reader) : pipe_(std::move(pipe)), reader_(reader) {
        pipe_->count(reader_, +1);
    }
    ~PipeEnd() override { pipe_->count(reader_, -1); }
    PipeEnd(const PipeEnd &) = delete;
    PipeEnd &operator=(const PipeEnd &) = delete;

    int32_t read(uint32_t limit, std::string &out) override {
        return reader_ ? pipe_->take(limit, out) : -KIVOS_EBADF;
    }
    int32_t write(std::string_view bytes) override {
        return reader_ ? -KIVOS_EBADF : pipe_->put(bytes);
    }

  private:
    std::shared_ptr<Pipe> pipe_;
    bool reader_;
};

std::shared_ptr<Channel> Pipe::open_reader(const std::shared_ptr<Pipe> &self) {
    return std::make_shared<PipeEnd>(self, true);
}

std::shared_ptr<Channel> Pipe::open_writer(const std::shared_ptr<Pipe> &self) {
    return std::make_shared<PipeEnd>(self, false);
}

void Pipe::count(bool reader, int delta) {
    uint32_t &ends = reader ? readers_ : writers_;
    ends = static_cast<uint32_t>(static_cast<int>(ends) + delta);
    (reader ? had_reader_ : had_writer_) = true;
    ++changes_;
}

int32_t Pipe::take(uint32_t limit, std::string &out) {
    if (buffer_.empty()) return writers_ == 0 && had_writer_ ? 0 : kWouldBlock;
    const size_t n = std::min<size_t>(limit, buffer_.size());
    out.assign(buffer_, 0, n);
    buffer_.erase(0, n);
    if (n != 0) ++changes_;
    return static_cast<int32_t>(n);
}

int32_t Pipe::put(std::string_view bytes) {
    if (readers_ == 0 && had_reader_) return -KIVOS_EPIPE;
    if (bytes.empty()) return 0;
    const size_t n = std::min<size_t>(bytes.size(), kCapacity - buffer_.size());
    if (n == 0) return kWouldBlock;
    buffer_.append(bytes.substr(0, n));
    ++changes_;
    return static_cast<int32_t>(n);
}

std::pair<std::shared_ptr<Channel>, std::shared_ptr<Channel>> make_pipe(uint64_t &changes) {
    const auto pipe = std::make_shared<Pipe>(changes);
    return {pipe->open_reader(pipe), pipe->open_writer(pipe)};
}

}  // namespace kivos::emu
