#pragma once

#include <string>
#include <vector>

namespace vak {

// The menu-bar daemon: checks the engines, sweeps stale scratch files, builds the session
// controller and the interface, arms the key monitor and the test signals (SIGUSR1 toggles a
// dictation, SIGUSR2 pastes "VAK_TEST_INSERT_OK"), logs the banner and runs the event loop until
// Quit. With a demo flag as the first argument it shows that demo instead. Returns the exit
// status.
//
// One daemon per user: a second one (while the first holds the lock in the runtime folder) says
// how to reach the running one and exits with ALREADY_RUNNING_STATUS before it arms a key,
// touches the clipboard or starts a server. The systemd unit does not restart on that status.
inline constexpr int ALREADY_RUNNING_STATUS = 3;
int runDaemon(const std::vector<std::string>& args);

} // namespace vak
