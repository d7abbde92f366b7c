#pragma once

#include "platform/service_control.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// The systemd user unit the program runs as (packaging/vak-dictate.service).
inline constexpr std::string_view SERVICE_UNIT = "vak-dictate.service";

// Whether the cgroup listing of a process (/proc/PID/cgroup) places it in `unit`.
bool cgroupInUnit(std::string_view cgroupText, std::string_view unit);

// Controls the program through systemd when systemd started it (the process sits in the unit's
// cgroup): "systemctl --user --no-block stop|restart vak-dictate.service". Otherwise there is no
// service to stop, and a restart re-executes the program in place with its original arguments.
// systemctl runs from an argument list under a watchdog.
class SystemdServiceControl final : public ServiceControl {
  public:
    // `args` are the process arguments, [0] being the program; `selfCgroup` the contents of
    // /proc/self/cgroup (read now when absent); `systemctl` the tool to run.
    SystemdServiceControl(std::vector<std::string> args,
                          std::optional<std::string> selfCgroup = std::nullopt,
                          std::string systemctl = "/usr/bin/systemctl");

    bool stopService() override;
    bool restartService() override;

    bool underSystemd() const { return underSystemd_; }

  private:
    bool runSystemctl(std::string_view verb);

    std::vector<std::string> args_;
    std::string systemctl_;
    bool underSystemd_ = false;
};

// Replaces the running program by a fresh copy of itself (/proc/self/exe) with `args`, with the
// signal mask cleared and every descriptor above standard error closed on the way. Returns only
// when that fails.
void reexecSelf(const std::vector<std::string>& args);

} // namespace vak
