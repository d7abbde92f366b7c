#include "app/command_line.h"

#include "app/cli_audio.h"
#include "app/cli_history.h"
#include "app/cli_rewrite.h"
#include "app/cli_text.h"
#include "app/cli_transcribe.h"
#include "app/control_socket.h"
#include "app/engine_setup.h"
#include "base/environment.h"
#include "foundation/config.h"
#include "foundation/constants.h"
#include "foundation/process_values.h"
#include "platform/desktop_shortcut.h"
#include "platform/login_item.h"

#include <array>
#include <cstdio>
#include <iostream>

namespace vak {

namespace {

constexpr auto kModes = std::to_array<CliModeInfo>({
    {CliMode::FormatStdin, "--format-stdin", CliArgument::None, "",
     "format standard input as a transcript and print it"},
    {CliMode::PolishStdin, "--polish-stdin", CliArgument::None, "",
     "format standard input, then rewrite it as an agent brief with a model"},
    {CliMode::PolishTextStdin, "--polish-text-stdin", CliArgument::None, "",
     "format standard input, then clean it up with a model"},
    {CliMode::LocalMode, "--local-mode", CliArgument::Required, "MODE",
     "format standard input, then render it in a writing mode without a model"},
    {CliMode::LocalCommand, "--local-command", CliArgument::Required, "INSTRUCTION",
     "apply a spoken editing instruction to standard input without a model"},
    {CliMode::Devices, "--devices", CliArgument::None, "",
     "list the audio input devices and the microphone preference"},
    {CliMode::MicCheck, "--mic-check", CliArgument::Optional, "[PREFERENCE]",
     "record three seconds and transcribe them"},
    {CliMode::AvTest, "--av-test", CliArgument::None, "",
     "capture two seconds from the default input and count buffers"},
    {CliMode::TranscribeFile, "--transcribe-file", CliArgument::Required, "WAV",
     "transcribe a 16 kHz mono WAV file and print the formatted text"},
    {CliMode::RetryFailed, "--retry-failed", CliArgument::None, "",
     "transcribe again the recordings kept after a failed decode and print their text"},
    {CliMode::History, "--history", CliArgument::Optional, "[N]",
     "print the last N (10) dictations of the encrypted history, with PRIVACY_MODE=0"},
    {CliMode::CaptionSim, "--caption-sim", CliArgument::Required, "WAV",
     "replay a WAV file through the live-caption engine"},
    {CliMode::SpecSim, "--spec-sim", CliArgument::Required, "WAV",
     "replay a WAV file through the chunk engine with the speculative tail; time the stop"},
    {CliMode::ChunkSim, "--chunk-sim", CliArgument::Required, "WAV",
     "replay a WAV file through the rolling chunk engine; time the stop"},
    {CliMode::SetupEngine, "--setup-engine", CliArgument::Optional, "[tools|models]",
     "build or find whisper-cli and whisper-server and download the models"},
    {CliMode::SettingsDemo, "--settings-demo", CliArgument::None, "",
     "show the settings window for 8 s"},
    {CliMode::ExplainDemo, "--explain-demo", CliArgument::None, "",
     "show the first-dictation explainer for 20 s"},
    {CliMode::HudDemo, "--hud-demo", CliArgument::None, "",
     "show the recording pill with simulated audio (VAK_DEMO_SECS, default 9 s)"},
    {CliMode::ModeInfoDemo, "--mode-info-demo", CliArgument::None, "",
     "show the mode explainer for 6 s"},
    {CliMode::Toggle, "--toggle", CliArgument::None, "",
     "start or stop a dictation in the running daemon (for a keyboard shortcut)"},
    {CliMode::Cancel, "--cancel", CliArgument::None, "",
     "throw the running daemon's recording away"},
    {CliMode::Settings, "--settings", CliArgument::None, "",
     "open the running daemon's settings window"},
    {CliMode::Quit, "--quit", CliArgument::None, "", "quit the running daemon"},
    {CliMode::AddShortcut, "--add-shortcut", CliArgument::None, "",
     "add the desktop's keyboard shortcut SHORTCUT_CHORD that runs --toggle (GNOME)"},
    {CliMode::Help, "--help", CliArgument::None, "", "show this help"},
    {CliMode::Version, "--version", CliArgument::None, "", "print the version"},
});

DaemonRunner daemonRunner = nullptr;

std::string_view flagOf(CliMode mode) {
    for (const auto& info : kModes) {
        if (info.mode == mode) return info.flag;
    }
    return {};
}

} // namespace

std::span<const CliModeInfo> cliModes() {
    return kModes;
}

void setDaemonRunner(DaemonRunner runner) {
    daemonRunner = runner;
}

CliInvocation parseCommandLine(const std::vector<std::string>& args) {
    CliInvocation invocation;
    if (args.size() < 2) return invocation;
    const std::string& flag = args[1];
    for (const auto& info : kModes) {
        if (info.flag != flag) continue;
        if (info.argument == CliArgument::Required && args.size() < 3) return invocation;
        invocation.mode = info.mode;
        if (info.argument != CliArgument::None && args.size() >= 3) invocation.argument = args[2];
        return invocation;
    }
    return invocation;
}

std::string helpText() {
    std::string text;
    text += std::string(APP_NAME) + " " + std::string(APP_VERSION) +
            " — push-to-talk dictation daemon\n\n";
    text += "Usage: " + std::string(APP_NAME) + " [MODE [ARGUMENT]]\n";
    text += "Without a mode the dictation daemon starts.\n\nModes:\n";
    for (const auto& info : kModes) {
        std::string left = "  ";
        left += info.flag;
        if (!info.argumentName.empty()) left += " " + std::string(info.argumentName);
        if (left.size() < 34)
            left.resize(34, ' ');
        else
            left += "  ";
        text += left + std::string(info.summary) + "\n";
    }
    text += "\n";
    text += "Environment:\n" + environmentHelpText();
    text += "\nSettings (~/.dictation/config, KEY=VALUE; read at start):\n";
    text += configHelpText();
    return text;
}

int runCommandLine(const CliInvocation& invocation) {
    switch (invocation.mode) {
    case CliMode::Help:
        std::cout << helpText();
        return 0;
    case CliMode::Version:
        std::cout << APP_NAME << " " << APP_VERSION << "\n";
        return 0;
    case CliMode::TranscribeFile:
        return runTranscribeFile(invocation.argument.value_or(""));
    case CliMode::RetryFailed:
        return runRetryFailed();
    case CliMode::History:
        return runHistoryMode(invocation.argument);
    case CliMode::CaptionSim:
        return runCaptionSim(invocation.argument.value_or(""));
    case CliMode::SpecSim:
        return runSpecSim(invocation.argument.value_or(""));
    case CliMode::ChunkSim:
        return runChunkSim(invocation.argument.value_or(""));
    case CliMode::SetupEngine:
        return runSetupEngine(invocation.argument);
    case CliMode::FormatStdin:
        return runFormatStdin(std::cin, std::cout);
    case CliMode::PolishStdin:
        return runPolishStdin(std::cin, std::cout, CliRewrite::ForAI);
    case CliMode::PolishTextStdin:
        return runPolishStdin(std::cin, std::cout, CliRewrite::ForText);
    case CliMode::LocalMode:
        return runLocalMode(invocation.argument.value_or(""), std::cin, std::cout);
    case CliMode::LocalCommand:
        return runLocalCommand(invocation.argument.value_or(""), std::cin, std::cout);
    case CliMode::Devices:
        return runDevicesMode(invocation);
    case CliMode::AvTest:
        return runAvTestMode(invocation);
    case CliMode::MicCheck:
        return runMicCheckMode(invocation);
    case CliMode::Toggle:
    case CliMode::Cancel:
    case CliMode::Settings:
    case CliMode::Quit:
        // The flag is the command's word: "--toggle" sends "toggle".
        return sendControlCommand(processValues().CONTROL_SOCKET,
                                  *controlCommandFor(flagOf(invocation.mode).substr(2)), std::cerr);
    case CliMode::AddShortcut: {
        const auto& values = processValues();
        const ShortcutOffer offer = offerToggleShortcut(
            startableProgram(values.cliArgs.empty() ? APP_NAME : values.cliArgs[0]),
            values.cfg.shortcutChord);
        return offer.bound ? 0 : 1;
    }
    case CliMode::Daemon:
    case CliMode::SettingsDemo:
    case CliMode::ExplainDemo:
    case CliMode::HudDemo:
    case CliMode::ModeInfoDemo:
        if (daemonRunner == nullptr) {
            std::cerr << APP_NAME << ": this build has no user interface\n";
            return 2;
        }
        return daemonRunner(processValues().cliArgs);
    }
    return 2; // every mode is handled above
}

} // namespace vak
