// The guest's file system: a host folder taken as "/", and the guest's
// current folder inside it. The host kernel resolves every path with the
// folder as its root, so no "..", absolute link or magic link leads out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "emu/owned_fd.h"

namespace kivos::emu {

// A host descriptor, or a negated kivos error number in `error`.
struct Opened {
    OwnedFd fd;
    int32_t error = 0;
};

class Sandbox {
  public:
    // Throws MachineError when `root` is not a folder.
    explicit Sandbox(const std::filesystem::path &root);
    // The same root and current folder: what a child process starts with.
    Sandbox(const Sandbox &other);
    Sandbox(Sandbox &&other) noexcept = default;

    // "/" at the root, "/sub/dir" below it.
    const std::string &cwd() const { return cwd_; }
    // `path` from the root: relative paths start at the current folder.
    std::string absolute(std::string_view path) const;

    // open: `flags` are the kivos open flags, the access mode reading,
    // writing or both.
    Opened open_file(std::string_view path, uint32_t flags) const;
    // 0 when `path` names an entry of an existing folder that does not exist
    // yet, or with `may_be_file` a file that write_file may replace; else a
    // negated kivos error number (EEXIST, EISDIR, ELOOP for a link).
    int32_t check_leaf(std::string_view path, bool may_be_file) const;
    int32_t make_directory(std::string_view path) const;
    int32_t remove_file(std::string_view path) const;
    int32_t remove_directory(std::string_view path) const;
    // Creates or truncates, then writes all of `bytes`; a link at the final
    // component is refused rather than followed.
    int32_t write_file(std::string_view path, std::string_view bytes) const;
    int32_t change_directory(std::string_view path);

  private:
    struct Parent {
        Opened folder;
        std::string leaf;
        bool folder_only;  // the path ended in a slash
    };
    static int32_t refuse_folder_name(const Parent &parent);
    Opened resolve(const std::string &path, uint64_t flags, uint64_t mode) const;
    Parent parent_of(std::string_view path) const;

    OwnedFd root_;
    std::string host_root_;
    std::string cwd_ = "/";
};

}  // namespace kivos::emu
