#pragma once

#include <memory>

namespace vak {

// The program as a per-user service of the system (a launch agent on macOS, the systemd user
// unit vak-dictate.service on Linux), which starts it at login and keeps it running.
//
// Implementations: launchctl on macOS; systemctl on Linux, re-executing the program itself when
// it was not started by systemd; a recording fake for tests. Main thread.
class ServiceControl {
  public:
    ServiceControl() = default;
    virtual ~ServiceControl() = default;
    ServiceControl(const ServiceControl&) = delete;
    ServiceControl& operator=(const ServiceControl&) = delete;

    // Takes the service down so it is not started again until the next login (before quitting).
    // Returns at once; false when the request could not be made.
    virtual bool stopService() = 0;
    // Stops the running program and starts it afresh, so it reads its configuration again. May
    // not return when it succeeds; false when the restart could not be made (the program then
    // keeps running as it is).
    virtual bool restartService() = 0;
};

// The process's service control. Until one is installed: both calls refuse.
std::shared_ptr<ServiceControl> serviceControl();
void installServiceControl(std::shared_ptr<ServiceControl> control);

} // namespace vak
