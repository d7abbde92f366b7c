#pragma once

#include <optional>

#include <sys/types.h>

namespace vak {

// The user id of the process at the other end of a connected Unix-domain socket; nothing when
// the system cannot tell. One definition per operating system (platform/<os>/), chosen by the
// build, as each system asks in its own way.
std::optional<uid_t> peerUserId(int socketFd);

} // namespace vak
