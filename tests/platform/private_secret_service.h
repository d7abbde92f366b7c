#pragma once

#include "base/subprocess.h"
#include "support/temp_dir.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

struct _GDBusConnection;

namespace vak::test {

// A Secret Service of the test's own: a private D-Bus session bus with a gnome-keyring-daemon
// whose login keyring is created and unlocked with a test password, all under a temporary
// folder. Starting it points this process's session bus and XDG folders there, so nothing can
// reach the real user's keyring. Both daemons die with the test process, even when it crashes.
class PrivateSecretService {
  public:
    struct Outcome {
        std::unique_ptr<PrivateSecretService> service;
        bool canRun = true;  // false when the programs it needs are not installed
        std::string problem; // why there is no service
    };
    static Outcome start();

    ~PrivateSecretService();
    PrivateSecretService(const PrivateSecretService&) = delete;
    PrivateSecretService& operator=(const PrivateSecretService&) = delete;

    pid_t keyringPid() const { return keyring_ ? keyring_->pid() : -1; }

    // The secrets of every item whose attributes include these, asked of the keyring over plain
    // D-Bus: what any other Secret Service client would find. Nothing when the keyring does not
    // answer.
    std::optional<std::vector<std::string>>
    secretsWith(const std::map<std::string, std::string>& attributes) const;

  private:
    PrivateSecretService() = default;
    std::string launch(const std::string& dbusDaemon, const std::string& keyringDaemon);

    struct ConnectionCloser {
        void operator()(_GDBusConnection* connection) const;
    };

    TempDir root_;
    std::unique_ptr<_GDBusConnection, ConnectionCloser> connection_;
    std::shared_ptr<Subprocess> bus_;
    std::shared_ptr<Subprocess> keyring_;
    TimerHandle busWatchdog_;
    TimerHandle keyringWatchdog_;
};

} // namespace vak::test
