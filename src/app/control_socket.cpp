#include "app/control_socket.h"

#include "base/main_queue.h"
#include "base/poll_thread.h"
#include "base/unicode.h"
#include "platform/peer_credentials.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <utility>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace vak {

namespace {

constexpr std::array<std::pair<ControlCommand, std::string_view>, 4> kWords = {{
    {ControlCommand::Toggle, "toggle"},
    {ControlCommand::Cancel, "cancel"},
    {ControlCommand::Settings, "settings"},
    {ControlCommand::Quit, "quit"},
}};

// How long either end waits for the other's line.
constexpr int kServerReadMs = 1000;
constexpr int kClientReadMs = 3000;
// A command line is a word; anything longer is not one.
constexpr std::size_t kMaxLine = 64;

bool addressFor(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A connected socket, or -1 with errno set.
int connectTo(const std::string& path) {
    sockaddr_un address{};
    if (!addressFor(path, address)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

void sendLine(int fd, std::string_view line) {
    while (!line.empty()) {
        const ssize_t sent = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        if (sent <= 0) return;
        line.remove_prefix(static_cast<std::size_t>(sent));
    }
}

// One line (without its newline), or nothing when none came in time.
std::optional<std::string> readLine(int fd, int timeoutMs) {
    std::string line;
    while (line.size() <= kMaxLine) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
        char c = 0;
        const ssize_t got = ::recv(fd, &c, 1, 0);
        if (got <= 0) return line.empty() ? std::nullopt : std::optional(line);
        if (c == '\n') return line;
        line.push_back(c);
    }
    return std::nullopt;
}

} // namespace

std::string_view controlWord(ControlCommand command) {
    for (const auto& [which, word] : kWords) {
        if (which == command) return word;
    }
    return {};
}

std::optional<ControlCommand> controlCommandFor(std::string_view word) {
    for (const auto& [which, known] : kWords) {
        if (known == word) return which;
    }
    return std::nullopt;
}

struct ControlSocket::State {
    std::string path;
    MainQueue* main = nullptr;
    Handler handler;
    int listenFd = -1;
    ino_t inode = 0; // of the socket we made, so only ours is ever removed
    std::unique_ptr<PollThread> poller;

    ~State() {
        poller.reset();
        if (listenFd >= 0) ::close(listenFd);
    }

    void serve(int fd) {
        if (peerUserId(fd) != ::geteuid()) {
            sendLine(fd, "refused: this daemon belongs to another user\n");
            return;
        }
        const auto line = readLine(fd, kServerReadMs);
        const auto command = line ? controlCommandFor(trim(*line)) : std::nullopt;
        if (!command) {
            sendLine(fd, "unknown command\n");
            return;
        }
        main->post([handler = handler, which = *command] { handler(which); });
        sendLine(fd, "ok\n");
    }

    PollThread::Hooks hooks() {
        return {
            .prepare =
                [this](std::vector<pollfd>& fds, int&) {
                    fds.push_back({listenFd, POLLIN, 0});
                    return true;
                },
            .dispatch =
                [this](const std::vector<pollfd>& fds) {
                    if ((fds[0].revents & POLLIN) == 0) return true;
                    const int client = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
                    if (client < 0) return true;
                    serve(client);
                    ::close(client);
                    return true;
                },
            .finish = {},
        };
    }
};

std::unique_ptr<ControlSocket> ControlSocket::listen(const std::string& path, MainQueue& main,
                                                     Handler handler, std::string* error) {
    const auto fail = [error](std::string why) {
        if (error != nullptr) *error = std::move(why);
        return nullptr;
    };
    sockaddr_un address{};
    if (!addressFor(path, address)) return fail("the path is too long for a socket: " + path);
    if (const int other = connectTo(path); other >= 0) {
        ::close(other);
        return fail("another vak-dictate already answers at " + path);
    }
    // A socket nobody answers on is a dead daemon's: replace it (nothing else is removed).
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) return fail(path + " exists and is not a socket");
        ::unlink(path.c_str());
    }
    auto state = std::make_shared<State>();
    state->path = path;
    state->main = &main;
    state->handler = std::move(handler);
    state->listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (state->listenFd < 0) return fail(std::strerror(errno));
    // Private from the moment it exists, whatever the process's umask.
    const mode_t before = ::umask(0177);
    const int bound =
        ::bind(state->listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int bindError = errno;
    ::umask(before);
    if (bound != 0) return fail(std::string("cannot make the socket: ") + std::strerror(bindError));
    if (::lstat(path.c_str(), &info) == 0) state->inode = info.st_ino;
    if (::listen(state->listenFd, 8) != 0) {
        ::unlink(path.c_str());
        return fail(std::string("cannot listen: ") + std::strerror(errno));
    }
    std::string why;
    state->poller = PollThread::start(state->hooks(), &why);
    if (!state->poller) {
        ::unlink(path.c_str());
        return fail(why);
    }
    return std::unique_ptr<ControlSocket>(new ControlSocket(std::move(state)));
}

ControlSocket::ControlSocket(std::shared_ptr<State> state) : state_(std::move(state)) {}

ControlSocket::~ControlSocket() {
    state_->poller.reset();
    struct stat info {};
    if (::lstat(state_->path.c_str(), &info) == 0 && info.st_ino == state_->inode)
        ::unlink(state_->path.c_str());
}

int sendControlCommand(const std::string& path, ControlCommand command, std::ostream& err) {
    const int fd = connectTo(path);
    if (fd < 0) {
        err << "vak-dictate: no running daemon answers at " << path << " (" << std::strerror(errno)
            << ")\n";
        return 1;
    }
    sendLine(fd, std::string(controlWord(command)) + "\n");
    const auto answer = readLine(fd, kClientReadMs);
    ::close(fd);
    if (answer == "ok") return 0;
    err << "vak-dictate: the daemon did not take \"" << controlWord(command)
        << "\": " << answer.value_or("no answer") << "\n";
    return 1;
}

} // namespace vak
