#include "debug/lcov_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace kivos::debug {
namespace {

// Records of line coverage are read; those of functions and branches, which
// other tools may have written, are passed over.
constexpr std::string_view kSkippedRecords[] = {
    "TN:", "LF:", "LH:", "FN:", "FNDA:", "FNF:", "FNH:", "BRDA:", "BRF:", "BRH:", "VER:"};

bool skipped(std::string_view line) {
    if (line.empty() || line == "end_of_record") return true;
    for (const std::string_view record : kSkippedRecords)
        if (line.starts_with(record)) return true;
    return false;
}

template <typename Number>
bool parse_number(std::string_view text, Number &value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// "DA:line,count" or "DA:line,count,checksum".
bool add_line_record(std::string_view record, std::map<uint32_t, uint64_t> &lines) {
    const size_t comma = record.find(',');
    if (comma == std::string_view::npos) return false;
    std::string_view count = record.substr(comma + 1);
    count = count.substr(0, count.find(','));
    uint32_t line = 0;
    uint64_t times = 0;
    if (!parse_number(record.substr(0, comma), line) || !parse_number(count, times)) return false;
    lines[line] += times;
    return true;
}

[[noreturn]] void fail(const std::filesystem::path &path, const std::string &what) {
    throw std::runtime_error(path.string() + ": " + what);
}

class LockedFile {
  public:
    explicit LockedFile(const std::filesystem::path &path)
        : path_(path), fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ < 0) fail(path_, std::strerror(errno));
        if (flock(fd_, LOCK_EX) != 0) fail(path_, std::strerror(errno));
    }
    ~LockedFile() { close(fd_); }
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;

    std::string read_all() const {
        std::string text;
        char chunk[65536];
        ssize_t got;
        while ((got = pread(fd_, chunk, sizeof chunk, static_cast<off_t>(text.size()))) > 0)
            text.append(chunk, static_cast<size_t>(got));
        if (got < 0) fail(path_, std::strerror(errno));
        return text;
    }

    void replace(std::string_view text) const {
        if (ftruncate(fd_, 0) != 0) fail(path_, std::strerror(errno));
        for (size_t done = 0; done < text.size();) {
            const ssize_t put =
                pwrite(fd_, text.data() + done, text.size() - done, static_cast<off_t>(done));
            if (put < 0) fail(path_, std::strerror(errno));
            done += static_cast<size_t>(put);
        }
    }

  private:
    std::filesystem::path path_;
    int fd_;
};

}  // namespace

LineCounts parse_lcov(std::string_view text) {
    LineCounts counts;
    std::map<uint32_t, uint64_t> *file = nullptr;
    size_t number = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (line.starts_with("SF:")) {
            file = &counts[std::string(line.substr(3))];
        } else if (line.starts_with("DA:")) {
            if (file == nullptr || !add_line_record(line.substr(3), *file))
                throw std::runtime_error("line " + std::to_string(number) + " is no line record");
        } else if (!skipped(line)) {
            throw std::runtime_error("line " + std::to_string(number) + " is no lcov record");
        }
    }
    return counts;
}

std::string format_lcov(const LineCounts &counts) {
    std::string text;
    for (const auto &[file, lines] : counts) {
        text += "TN:\nSF:" + file + "\n";
        size_t hit = 0;
        for (const auto &[line, times] : lines) {
            text += "DA:" + std::to_string(line) + "," + std::to_string(times) + "\n";
            if (times != 0) ++hit;
        }
        text += "LF:" + std::to_string(lines.size()) + "\nLH:" + std::to_string(hit) +
                "\nend_of_record\n";
    }
    return text;
}

void merge_into_tracefile(const std::filesystem::path &path, const LineCounts &counts) {
    const LockedFile file(path);
    LineCounts merged;
    try {
        merged = parse_lcov(file.read_all());
    } catch (const std::runtime_error &error) {
        fail(path, std::string("not an lcov tracefile (") + error.what() + "); left as it is");
    }
    for (const auto &[source, lines] : counts)
        for (const auto &[line, times] : lines) merged[source][line] += times;
    file.replace(format_lcov(merged));
}

}  // namespace kivos::debug
