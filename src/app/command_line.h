#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

enum class CliMode {
    FormatStdin,
    PolishStdin,
    PolishTextStdin,
    LocalMode,
    LocalCommand,
    Devices,
    MicCheck,
    AvTest,
    TranscribeFile,
    RetryFailed,
    History,
    CaptionSim,
    SpecSim,
    ChunkSim,
    SetupEngine,
    SettingsDemo,
    ExplainDemo,
    HudDemo,
    ModeInfoDemo,
    Toggle,
    Cancel,
    Settings,
    Quit,
    AddShortcut,
    Help,
    Version,
    Daemon, // no mode flag (or an unknown one)
};

enum class CliArgument { None, Required, Optional };

struct CliModeInfo {
    CliMode mode;
    std::string_view flag;
    CliArgument argument;
    std::string_view argumentName;
    std::string_view summary;
};

// Every mode flag, in the order the help lists them.
std::span<const CliModeInfo> cliModes();

struct CliInvocation {
    CliMode mode = CliMode::Daemon;
    std::optional<std::string> argument;
};

// Only the first argument after the program selects a mode. A mode that needs a second argument
// is recognised only when one is there; otherwise the flag counts as unknown.
CliInvocation parseCommandLine(const std::vector<std::string>& args);

// What runs the daemon and the demo modes (they need the interface, which the core does not
// link); given the process arguments, returns the exit status.
using DaemonRunner = int (*)(const std::vector<std::string>& args);
void setDaemonRunner(DaemonRunner runner);

// Runs the mode and returns the process exit status.
int runCommandLine(const CliInvocation& invocation);

std::string helpText();

} // namespace vak
