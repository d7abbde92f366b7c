#include "base/files.h"

#include "base/log.h"
#include "base/unicode.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {

void UniqueFd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

namespace {

std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISLNK(mode)) return "a link";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "a file";
}

void setProblem(std::string* problem, std::string text) {
    if (problem != nullptr) *problem = std::move(text);
}

// The part of `path` before its last "/", or "." when it has none.
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

std::optional<UniqueFd> openRegularFile(const std::string& path, std::string* problem,
                                        Links links) {
    setProblem(problem, "");
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (links == Links::refuse ? O_NOFOLLOW : 0);
    UniqueFd fd(::open(path.c_str(), flags));
    if (!fd.valid()) {
        if (errno == ELOOP && links == Links::refuse)
            setProblem(problem, "is a link");
        else if (errno != ENOENT)
            setProblem(problem, std::string("cannot be opened: ") + std::strerror(errno));
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        setProblem(problem, std::string("cannot be examined: ") + std::strerror(errno));
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        setProblem(problem, "is " + kindOf(st.st_mode));
        return std::nullopt;
    }
    return fd;
}

std::optional<std::string> readAll(int fd, std::string* problem) {
    struct stat st {};
    std::string bytes;
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return bytes;
        } else if (errno != EINTR) {
            setProblem(problem, std::string("cannot be read: ") + std::strerror(errno));
            return std::nullopt;
        }
    }
}

std::optional<std::string> readFileBytes(const std::string& path, std::string* problem,
                                         Links links) {
    const auto fd = openRegularFile(path, problem, links);
    if (!fd) return std::nullopt;
    return readAll(fd->get(), problem);
}

std::optional<std::string> readTextFile(const std::string& path, std::string* problem,
                                        Links links) {
    auto bytes = readFileBytes(path, problem, links);
    if (!bytes) return std::nullopt;
    if (!isValidUtf8(*bytes)) {
        setProblem(problem, "is not UTF-8 text");
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::string> describePath(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return kindOf(st.st_mode);
}

bool replaceUserFile(const std::string& path, std::string_view bytes, std::string* problem) {
    setProblem(problem, "");
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            setProblem(problem, std::string("cannot be examined: ") + std::strerror(errno));
            return false;
        }
        return writeFileAtomic(path, bytes, 0600);
    }
    if (S_ISREG(st.st_mode)) return writeFileAtomic(path, bytes, 0600);
    if (!S_ISLNK(st.st_mode)) {
        setProblem(problem, "is " + kindOf(st.st_mode) + ", not a file: left as it is");
        return false;
    }
    // A link: follow it only to a regular file of this user's, and replace that file.
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        setProblem(problem, "is a link to nothing that exists: left as it is");
        return false;
    }
    const std::string target(resolved);
    std::free(resolved);
    struct stat targetInfo {};
    if (::stat(target.c_str(), &targetInfo) != 0 || !S_ISREG(targetInfo.st_mode) ||
        targetInfo.st_uid != ::geteuid()) {
        setProblem(problem, "is a link to " + target +
                                ", which is not a file of this user's: left as it is");
        return false;
    }
    if (::access(folderOf(target).c_str(), W_OK) != 0) {
        setProblem(problem, "is a link to " + target + ", whose folder cannot be written");
        return false;
    }
    return writeFileAtomic(target, bytes, 0600);
}

namespace {

template <typename Read>
std::optional<std::string> readOrSay(const std::string& path, Read read) {
    std::string problem;
    auto bytes = read(path, &problem, Links::follow);
    if (!bytes && !problem.empty())
        log(LogLevel::warning, path + " " + problem + " — not read, left as it is");
    return bytes;
}

} // namespace

std::optional<std::string> readUserBytes(const std::string& path) {
    return readOrSay(path, [](const std::string& p, std::string* why, Links links) {
        return readFileBytes(p, why, links);
    });
}

std::optional<std::string> readUserText(const std::string& path) {
    return readOrSay(path, [](const std::string& p, std::string* why, Links links) {
        return readTextFile(p, why, links);
    });
}

bool saveUserFile(const std::string& path, std::string_view bytes) {
    std::string problem;
    if (replaceUserFile(path, bytes, &problem)) return true;
    log(LogLevel::warning,
        path + " not updated: " + (problem.empty() ? "the write failed" : problem));
    return false;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool writeFileAtomic(const std::string& path, std::string_view bytes, mode_t mode) {
    static std::atomic<unsigned> counter{0};
    const std::string temp =
        path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd.valid()) return false;
    // The umask may have narrowed the mode at creation; the caller's mode is what counts.
    const bool ok =
        ::fchmod(fd.get(), mode) == 0 && writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    fd.reset();
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool appendToFile(const std::string& path, std::string_view bytes, mode_t mode) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode));
    return fd.valid() && writeAll(fd.get(), bytes);
}

bool setPermissions(const std::string& path, mode_t mode) {
    return ::chmod(path.c_str(), mode) == 0;
}

std::optional<mode_t> filePermissions(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return st.st_mode & 07777;
}

std::optional<UniqueFd> createScratchFile(const std::string& path) {
    // Whatever the removal does, the exclusive create below refuses anything still in the way.
    ::unlink(path.c_str());
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) return std::nullopt;
    return fd;
}

FileLock lockFile(const std::string& path) {
    FileLock lock;
    // Close-on-exec: a child that outlived us must not keep the lock.
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        lock.problem = path + ": " + std::strerror(errno);
        return lock;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            lock.outcome = LockOutcome::HeldElsewhere;
        } else {
            lock.problem = path + ": " + std::strerror(errno);
        }
        return lock;
    }
    lock.outcome = LockOutcome::Taken;
    lock.fd = std::move(fd);
    return lock;
}

std::string expandHome(std::string_view path, std::string_view home) {
    if (path == "~") return std::string(home);
    if (path.starts_with("~/")) return std::string(home) + std::string(path.substr(1));
    return std::string(path);
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isExecutableFile(const std::string& path) {
    return isRegularFile(path) && ::access(path.c_str(), X_OK) == 0;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool makeDirectories(const std::string& path, mode_t mode) {
    if (path.empty()) return false;
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::int64_t> fileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

namespace {

// Moves a descriptor above the standard three so dup2 onto 0/1 really clears close-on-exec.
bool liftAboveStandard(int& fd) {
    if (fd > 2) return true;
    const int lifted = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (lifted < 0) return false;
    ::close(fd);
    fd = lifted;
    return true;
}

} // namespace

bool makePipe(int fds[2]) {
#ifdef VAK_HAVE_PIPE2
    // Close-on-exec from the start: a child forked by another thread meanwhile gets no copy.
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
#else
    if (pipe(fds) != 0) return false;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#endif
    if (!liftAboveStandard(fds[0]) || !liftAboveStandard(fds[1])) {
        for (int end = 0; end < 2; ++end) {
            if (fds[end] >= 0) ::close(fds[end]);
            fds[end] = -1;
        }
        return false;
    }
    return true;
}

} // namespace vak
