#include "emu/sandbox.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <kivos/abi.h>

#include <cerrno>

#include "emu/errors.h"
#include "emu/guest_error.h"
#include "emu/host_io.h"

namespace kivos::emu {
namespace {

constexpr mode_t kFileMode = 0644;
constexpr mode_t kFolderMode = 0755;

// Where a descriptor really is on the host.
std::string host_path_of(int fd) {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error).string();
}

// Only regular files are ever opened for their contents: a FIFO would block the
// machine, and opening a device can act on the host.
int32_t check_regular(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return guest_error(errno);
    if (S_ISDIR(status.st_mode)) return -KIVOS_EISDIR;
    if (S_ISLNK(status.st_mode)) return -KIVOS_ELOOP;
    return S_ISREG(status.st_mode) ? 0 : -KIVOS_EACCES;
}

// The file behind a descriptor that only names it (O_PATH), opened for real.
Opened reopen(int fd, uint64_t flags) {
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    const int opened = ::open(name.c_str(), static_cast<int>(flags) | O_CLOEXEC | O_NOCTTY);
    if (opened < 0) return {OwnedFd(), guest_error(errno)};
    return {OwnedFd(opened), 0};
}

// `lookup(flags, mode)` opens the entry in question. It is looked at before it
// is opened, so that nothing but a regular file ever is; with `create` a
// missing one is made exclusively, and one that appears meanwhile is looked
// at again.
template <typename Lookup>
Opened open_regular(Lookup lookup, uint64_t flags, bool create) {
    constexpr int kAttempts = 3;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        Opened found = lookup(O_PATH, 0);
        if (found.error == -KIVOS_ENOENT && create) {
            Opened made = lookup(flags | O_CREAT | O_EXCL, kFileMode);
            if (made.error != -KIVOS_EEXIST) return made;
            continue;
        }
        if (found.error != 0) return found;
        if (const int32_t error = check_regular(found.fd.get()); error != 0)
            return {OwnedFd(), error};
        return reopen(found.fd.get(), flags);
    }
    return {OwnedFd(), -KIVOS_EEXIST};
}

}  // namespace

Sandbox::Sandbox(const std::filesystem::path &root)
    : root_(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {
    if (root_.get() < 0) throw MachineError(root.string() + ": not a folder that can be opened");
    host_root_ = host_path_of(root_.get());
    if (host_root_ == "/") host_root_.clear();
}

Sandbox::Sandbox(const Sandbox &other)
    : root_(::fcntl(other.root_.get(), F_DUPFD_CLOEXEC, 0)),
      host_root_(other.host_root_),
      cwd_(other.cwd_) {
    if (root_.get() < 0) throw MachineError("cannot share the root folder: too many open files");
}

std::string Sandbox::absolute(std::string_view path) const {
    if (path.starts_with('/')) return std::string(path);
    std::string full = cwd_ == "/" ? std::string() : cwd_;
    full += '/';
    full.append(path);
    return full;
}

Opened Sandbox::resolve(const std::string &path, uint64_t flags, uint64_t mode) const {
    open_how how{};
    how.flags = flags | O_CLOEXEC;
    how.mode = mode;
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, root_.get(), path.c_str(), &how, sizeof how);
    if (fd < 0) return {OwnedFd(), guest_error(errno)};
    return {OwnedFd(static_cast<int>(fd)), 0};
}

Sandbox::Parent Sandbox::parent_of(std::string_view path) const {
    if (path.empty()) return {{OwnedFd(), -KIVOS_ENOENT}, {}, false};
    std::string full = absolute(path);
    const bool folder_only = full.size() > 1 && full.back() == '/';
    while (full.size() > 1 && full.back() == '/') full.pop_back();
    const size_t slash = full.rfind('/');
    std::string leaf = full.substr(slash + 1);
    if (leaf.empty() || leaf == "." || leaf == "..") return {{OwnedFd(), -KIVOS_EINVAL}, {}, false};
    const std::string folder = slash == 0 ? "/" : full.substr(0, slash);
    return {resolve(folder, O_PATH | O_DIRECTORY, 0), std::move(leaf), folder_only};
}

// What a call that takes only files answers for a name with a trailing slash,
// which names a folder or nothing.
int32_t Sandbox::refuse_folder_name(const Parent &parent) {
    struct stat status {};
    if (::fstatat(parent.folder.fd.get(), parent.leaf.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? -KIVOS_EISDIR : guest_error(errno);
    return S_ISDIR(status.st_mode) ? -KIVOS_EISDIR : -KIVOS_ENOTDIR;
}

Opened Sandbox::open_file(std::string_view path, uint32_t flags) const {
    if ((flags & ~(KIVOS_O_ACCMODE | KIVOS_O_CREAT | KIVOS_O_TRUNC)) != 0 ||
        (flags & KIVOS_O_ACCMODE) == KIVOS_O_ACCMODE)
        return {OwnedFd(), -KIVOS_EINVAL};
    if (path.empty()) return {OwnedFd(), -KIVOS_ENOENT};
    // Creating or truncating a file opened for reading needs write access on the host all the same.
    const bool changes = (flags & (KIVOS_O_CREAT | KIVOS_O_TRUNC)) != 0;
    const uint32_t access = flags & KIVOS_O_ACCMODE;
    const uint64_t host_flags = (access == KIVOS_O_WRONLY            ? O_WRONLY
                                 : access == KIVOS_O_RDWR || changes ? O_RDWR
                                                                     : O_RDONLY) |
                                (flags & KIVOS_O_TRUNC ? O_TRUNC : 0);
    const std::string full = absolute(path);
    return open_regular(
        [&](uint64_t lookup_flags, uint64_t mode) { return resolve(full, lookup_flags, mode); },
        host_flags, (flags & KIVOS_O_CREAT) != 0);
}

int32_t Sandbox::check_leaf(std::string_view path, bool may_be_file) const {
    const Parent parent = parent_of(path);
    if (parent.folder.error != 0) return parent.folder.error;
    struct stat status {};
    if (::fstatat(parent.folder.fd.get(), parent.leaf.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : guest_error(errno);
    if (!may_be_file) return -KIVOS_EEXIST;
    if (S_ISDIR(status.st_mode)) return -KIVOS_EISDIR;
    return S_ISLNK(status.st_mode) ? -KIVOS_ELOOP : 0;
}

int32_t Sandbox::make_directory(std::string_view path) const {
    const Parent parent = parent_of(path);
    if (parent.folder.error != 0) return parent.folder.error;
    return ::mkdirat(parent.folder.fd.get(), parent.leaf.c_str(), kFolderMode) == 0
               ? 0
               : guest_error(errno);
}

int32_t Sandbox::remove_file(std::string_view path) const {
    const Parent parent = parent_of(path);
    if (parent.folder.error != 0) return parent.folder.error;
    if (parent.folder_only) return refuse_folder_name(parent);
    return ::unlinkat(parent.folder.fd.get(), parent.leaf.c_str(), 0) == 0 ? 0 : guest_error(errno);
}

int32_t Sandbox::remove_directory(std::string_view path) const {
    const Parent parent = parent_of(path);
    if (parent.folder.error != 0) return parent.folder.error;
    return ::unlinkat(parent.folder.fd.get(), parent.leaf.c_str(), AT_REMOVEDIR) == 0
               ? 0
               : guest_error(errno);
}

int32_t Sandbox::write_file(std::string_view path, std::string_view bytes) const {
    const Parent parent = parent_of(path);
    if (parent.folder.error != 0) return parent.folder.error;
    if (parent.folder_only) return refuse_folder_name(parent);
    const int folder = parent.folder.fd.get();
    const Opened file = open_regular(
        [&](uint64_t flags, uint64_t mode) {
            const int fd = ::openat(folder, parent.leaf.c_str(),
                                    static_cast<int>(flags) | O_NOFOLLOW | O_CLOEXEC,
                                    static_cast<mode_t>(mode));
            return fd < 0 ? Opened{OwnedFd(), guest_error(errno)} : Opened{OwnedFd(fd), 0};
        },
        O_WRONLY | O_TRUNC, true);
    if (file.error != 0) return file.error;
    return write_host(file.fd.get(), bytes);
}

int32_t Sandbox::change_directory(std::string_view path) {
    if (path.empty()) return -KIVOS_ENOENT;
    const Opened folder = resolve(absolute(path), O_PATH | O_DIRECTORY, 0);
    if (folder.error != 0) return folder.error;
    const std::string host = host_path_of(folder.fd.get());
    const bool inside = host.size() > host_root_.size() && host.starts_with(host_root_) &&
                        host[host_root_.size()] == '/';
    // Anything else was moved out of the root while we looked: as good as gone.
    if (host != host_root_ && !inside) return -KIVOS_ENOENT;
    cwd_ = inside ? host.substr(host_root_.size()) : std::string(1, '/');
    return 0;
}

}  // namespace kivos::emu
