#include "platform/peer_credentials.h"

#include <sys/socket.h>

namespace vak {

std::optional<uid_t> peerUserId(int socketFd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return std::nullopt;
    return peer.uid;
}

} // namespace vak
