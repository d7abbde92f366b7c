#include "platform/linux/sway_ipc.h"

#include "base/time_util.h"
#include "base/unicode.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vak {

namespace {

constexpr std::string_view kMagic = "i3-ipc";
constexpr std::size_t kHeaderSize = kMagic.size() + 8;
// No reply of sway's is this large; a length beyond it means the stream is out of step.
constexpr std::uint32_t kMaxReply = 64u << 20;

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool receiveExactly(int fd, char* out, std::size_t size, SteadyClock::time_point deadline) {
    std::size_t got = 0;
    while (got < size) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        const ssize_t n = ::recv(fd, out + got, size - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

int connectTo(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The focused leaf under `node`: windows sit in "nodes" (tiled) or "floating_nodes".
const nlohmann::json* findFocused(const nlohmann::json& node, int depth) {
    if (depth > 64 || !node.is_object()) return nullptr;
    if (node.value("focused", false)) return &node;
    for (const char* children : {"nodes", "floating_nodes"}) {
        const auto list = node.find(children);
        if (list == node.end() || !list->is_array()) continue;
        for (const auto& child : *list) {
            if (const auto* found = findFocused(child, depth + 1)) return found;
        }
    }
    return nullptr;
}

std::string stringAt(const nlohmann::json& node, const char* key) {
    const auto value = node.find(key);
    return value != node.end() && value->is_string() ? value->get<std::string>() : std::string();
}

} // namespace

SwayIpc::SwayIpc(std::string socketPath) : path_(std::move(socketPath)) {}

SwayIpc::~SwayIpc() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<std::string> SwayIpc::request(std::uint32_t type, std::string_view payload,
                                            double timeoutSeconds) {
    std::lock_guard lock(mutex_);
    const auto deadline = deadlineAfter(timeoutSeconds);
    // A connection that failed once is out of step: the next request opens a new one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (fd_ < 0) fd_ = connectTo(path_);
        if (fd_ < 0) return std::nullopt;
        std::string message(kMagic);
        const auto length = static_cast<std::uint32_t>(payload.size());
        message.append(reinterpret_cast<const char*>(&length), 4);
        message.append(reinterpret_cast<const char*>(&type), 4);
        message.append(payload);
        char header[kHeaderSize];
        std::uint32_t replyLength = 0;
        std::uint32_t replyType = 0;
        if (sendAll(fd_, message) && receiveExactly(fd_, header, sizeof header, deadline) &&
            std::string_view(header, kMagic.size()) == kMagic) {
            std::memcpy(&replyLength, header + kMagic.size(), 4);
            std::memcpy(&replyType, header + kMagic.size() + 4, 4);
            std::string reply(replyLength <= kMaxReply ? replyLength : 0, '\0');
            if (replyType == type && replyLength <= kMaxReply &&
                receiveExactly(fd_, reply.data(), reply.size(), deadline)) {
                return reply;
            }
        }
        ::close(fd_);
        fd_ = -1;
        if (SteadyClock::now() > deadline) break;
    }
    return std::nullopt;
}

bool SwayIpc::command(std::string_view commands) {
    const auto reply = request(RUN_COMMAND, commands);
    if (!reply) return false;
    const auto results = nlohmann::json::parse(*reply, nullptr, false);
    if (!results.is_array() || results.empty()) return false;
    for (const auto& result : results) {
        if (!result.is_object() || !result.value("success", false)) return false;
    }
    return true;
}

FocusedApp focusedWindow(std::string_view treeJson) {
    const auto tree = nlohmann::json::parse(treeJson, nullptr, false);
    const nlohmann::json* focused = findFocused(tree, 0);
    if (focused == nullptr) return {};
    const std::string type = stringAt(*focused, "type");
    if (type == "workspace" || type == "output" || type == "root") return {false, {}};
    std::string id = stringAt(*focused, "app_id");
    if (id.empty()) {
        const auto properties = focused->find("window_properties");
        if (properties != focused->end() && properties->is_object())
            id = stringAt(*properties, "class");
    }
    // sway's "shell" tells its own clients from XWayland's.
    const std::string shell = stringAt(*focused, "shell");
    const WindowProtocol protocol = shell == "xwayland" ? WindowProtocol::X11
                                    : shell.empty()     ? WindowProtocol::Unknown
                                                        : WindowProtocol::Wayland;
    return {true, toLower(id), protocol};
}

std::string focusedApplication(std::string_view treeJson) {
    return focusedWindow(treeJson).identifier;
}

FocusedApp SwayFrontmostApp::focused() {
    const auto tree = ipc_->request(SwayIpc::GET_TREE, {});
    return tree ? focusedWindow(*tree) : FocusedApp{};
}

SwayPanelPlacement::SwayPanelPlacement(std::shared_ptr<SwayIpc> ipc) : ipc_(std::move(ipc)) {}

std::string SwayPanelPlacement::criteria(std::string_view title) const {
    // Our windows only; the titles are ours and hold nothing a regular expression would read.
    return "[pid=" + std::to_string(::getpid()) + " title=\"^" + std::string(title) + "$\"]";
}

void SwayPanelPlacement::prepare(std::string_view title) {
    if (std::find(prepared_.begin(), prepared_.end(), title) != prepared_.end()) return;
    prepared_.emplace_back(title);
    // The command list is quoted: unquoted, sway would run its later commands at once, on
    // whichever window has the focus.
    ipc_->command("for_window " + criteria(title) +
                  " \"floating enable, sticky enable, border none\"");
    leaveFocusAlone(title);
}

void SwayPanelPlacement::leaveFocusAlone(std::string_view title) {
    if (std::find(unfocused_.begin(), unfocused_.end(), title) != unfocused_.end()) return;
    unfocused_.emplace_back(title);
    // sway focuses every new window; Qt cannot tell it otherwise over Wayland.
    ipc_->command("no_focus " + criteria(title));
}

bool SwayPanelPlacement::place(std::string_view title, int x, int y) {
    return ipc_->command(criteria(title) + " move absolute position " + std::to_string(x) + " " +
                         std::to_string(y));
}

} // namespace vak
