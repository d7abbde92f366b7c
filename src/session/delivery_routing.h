#pragma once

#include "base/executor.h"
#include "foundation/deliver_mode.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vak {

class MainQueue;
struct Config;

// What a stop knew when it happened, for deciding what gets delivered.
struct RouteRequest {
    int session = 0;
    std::string text; // the formatted transcript
    // Present for a command-mode session: the selection the instruction edits.
    std::optional<std::string> commandSelection;
    DeliverMode selectedMode = DeliverMode::ask;
    bool modePicked = false; // a mode was clicked on the pill during this recording
    std::string bundle;      // the frontmost application, lower-cased
    bool isPolishApp = false;
    bool isProApp = false;
    bool wasInstant = false; // stopped with the pill's Done button
};

// The settings routing reads.
struct RouteSettings {
    bool polish{};
    int polishMinWords{};
    DeliverMode defaultMode{};
    bool polishAsk{};
    // The mode-rules file the agent brief adds the user's cues from; empty: the built-in ones.
    std::string modeRulesPath;

    static RouteSettings fromConfig(const Config& config);
};

// Where routing ends up, and what it may call. Every function is required.
struct RouteServices {
    // Delivers `text` with `label` (empty for a plain paste); called from any thread.
    std::function<void(std::string text, std::string label)> finish;
    // Opens the ask mode's choice panel; called on the main queue.
    std::function<void(const std::string& transcript, std::function<void()> onSummarize,
                       std::function<void()> onProfessional, std::function<void()> onKeep)>
        presentChoice;
    std::function<std::optional<DeliverMode>(std::string_view app)> learnedMode;
    std::function<std::optional<std::string>(std::string_view selection,
                                             std::string_view instruction)>
        commandEdit;
    std::function<void(std::string_view text, std::string_view tag)> logTranscript;
    Executor* background = nullptr; // rewrites and command edits
    MainQueue* main = nullptr;      // the choice panel
};

// Decides what a transcript becomes: the command edit of a command-mode session, the words as
// spoken after a leading "verbatim", the pill's mode (or the mode usually picked in this
// application), and in the ask mode the application lists, the length and DEFAULT_MODE, possibly
// through the choice panel. Every path ends in services.finish exactly once.
void routeTranscript(RouteRequest request, const RouteSettings& settings,
                     const RouteServices& services);

// Rewrites `text` with the local transform of `mode` on the background queue and finishes with
// it; the words as spoken are recorded first.
void deliverLocal(std::string text, DeliverMode mode, const RouteSettings& settings,
                  const RouteServices& services);

// Whether `bundle` contains one of the comma-separated application fragments of `list`
// (lower-cased, blanks trimmed, empty entries skipped).
bool bundleMatchesList(std::string_view bundle, std::string_view list);

} // namespace vak
