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

enum class Links { follow, refuse };

// Whole file as bytes; nothing when it cannot be read. The file is opened without blocking, so a
// FIFO or a device in its place cannot stall the caller, and it is read only when the open
// descriptor is a regular file. `problem`, when given, says why nothing came back ("is a FIFO",
// "is a folder", "is a link", the system's error); it stays empty when there is no file at all.
// With Links::refuse a link at `path` is not followed (scratch files, the log).
std::optional<std::string> readFileBytes(const std::string& path, std::string* problem = nullptr,
                                         Links links = Links::follow);
// Whole file as UTF-8 text; nothing when it cannot be read or is not valid UTF-8 ("is not UTF-8
// text").
std::optional<std::string> readTextFile(const std::string& path, std::string* problem = nullptr,
                                        Links links = Links::follow);
// The rest of an open file.
std::optional<std::string> readAll(int fd, std::string* problem = nullptr);
// An open regular file, read-only, under the same rules.
std::optional<UniqueFd> openRegularFile(const std::string& path, std::string* problem = nullptr,
                                        Links links = Links::follow);
// What stands at `path`, for a message: "a folder", "a FIFO", "a link", "a device", "a socket",
// "a file", or nothing when nothing is there.
std::optional<std::string> describePath(const std::string& path);

// Replaces one of the user's own files (the dictionary, the snippets, the mode rules, the
// configuration) with `bytes`, atomically, 0600. A link (as dotfile managers make) to a regular
// file owned by this user stays a link: the file it points to is replaced, its new version
// written beside it. Anything else at the path is left as it is and false returned, `problem`
// saying why: a link to what is not the user's regular file, a folder, a FIFO. A missing file is
// created.
bool replaceUserFile(const std::string& path, std::string_view bytes,
                     std::string* problem = nullptr);

// The two above for callers with nothing to add: a problem becomes one warning in the log that
// names the path and what stands there.
std::optional<std::string> readUserBytes(const std::string& path);
std::optional<std::string> readUserText(const std::string& path);
bool saveUserFile(const std::string& path, std::string_view bytes);

// Replaces `path` with `bytes` all at once: a temporary file in the same folder, flushed, then
// renamed over the target, so readers see the old or the new content and never a mix.
bool writeFileAtomic(const std::string& path, std::string_view bytes, mode_t mode = 0600);
// Appends with one write; creates the file with `mode` when missing.
bool appendToFile(const std::string& path, std::string_view bytes, mode_t mode = 0600);
bool writeAll(int fd, std::string_view bytes);

// A pipe (read end first) whose ends are close-on-exec from the start and above the standard
// three descriptors, so a child spawned meanwhile gets no copy and dup2 onto 0-2 clears the flag.
// False when none can be made.
bool makePipe(int fds[2]);

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

// An exclusive lock on the file at `path` (created 0600, never through a link), held while the
// descriptor stays open and released by the kernel when the holder dies, however it dies.
enum class LockOutcome { Taken, HeldElsewhere, Failed };
struct FileLock {
    LockOutcome outcome = LockOutcome::Failed;
    UniqueFd fd;         // open while Taken
    std::string problem; // why, when Failed
};
FileLock lockFile(const std::string& path);

} // namespace vak
