#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace vak {

// Owns one file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset();

  private:
    int fd_ = -1;
};

// Whole file as bytes; nothing when it cannot be read.
std::optional<std::string> readFileBytes(const std::string& path);
// Whole file as UTF-8 text; nothing when it cannot be read or is not valid UTF-8.
std::optional<std::string> readTextFile(const std::string& path);

// Replaces `path` with `bytes` all at once: a temporary file in the same folder, flushed, then
// renamed over the target, so readers see the old or the new content and never a mix.
bool writeFileAtomic(const std::string& path, std::string_view bytes, mode_t mode = 0600);
// Appends with one write; creates the file with `mode` when missing.
bool appendToFile(const std::string& path, std::string_view bytes, mode_t mode = 0600);
bool writeAll(int fd, std::string_view bytes);

bool setPermissions(const std::string& path, mode_t mode);
std::optional<mode_t> filePermissions(const std::string& path);

// A fresh scratch file at `path`, open for reading and writing: whatever is at the path is
// removed first, then the file is created exclusively, mode 0600, never through a link.
// Nothing when something (a planted link, another user's file) is still in the way.
std::optional<UniqueFd> createScratchFile(const std::string& path);

// "~" and a leading "~/" stand for `home`; any other path comes back as it is.
std::string expandHome(std::string_view path, std::string_view home);

bool pathExists(const std::string& path);    // without following a final link
bool isRegularFile(const std::string& path); // following links
bool isExecutableFile(const std::string& path);
bool removeFile(const std::string& path); // false when it was not there either
bool makeDirectories(const std::string& path, mode_t mode = 0700);
std::optional<std::int64_t> fileSize(const std::string& path);

} // namespace vak
