#pragma once

#include "foundation/config_key_names.h"
#include "foundation/deliver_mode.h"
#include "foundation/scratch_files.h"
#include "history/history.h"
#include "platform/desktop_shortcut.h"
#include "platform/login_item.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vak {

class AudioBackend;
class Executor;
class FileOpener;
class FrontmostApp;
class PanelPlacement;
class Pasteboard;
class ServiceControl;
struct DecodeMemory;
struct PlatformServices;
struct ProcessValues;

// The user's files the interface opens or shows.
struct UiPaths {
    std::string home;           // the models folder is found from it
    std::string configFile;     // opened by the settings window's advanced button
    std::string learnedWords;   // opened by its dictionary button
    std::string modelSpeeds;    // each model's measured speed, shown in the model list
    std::string log;            // opened from the status menu
    std::string firstRunMarker; // present once the first-run note has been shown
};

// Everything the interface reaches outside itself: the configuration file and the mode memory
// it writes to, the desktop it asks, the service it stops and restarts, the event loop it ends
// and the clock it reads. The running program's come from from(ProcessValues); tests put in
// their own.
struct UiServices {
    // Sets one key of the configuration file (it applies at the next start).
    std::function<bool(ConfigKeyName key, std::string_view value)> writeConfig;
    // Switches the running daemon's decodes to the model `name` (its file is in place); unset
    // where nothing decodes (demos): DECODE_MODEL then applies at the next start.
    std::function<void(const std::string& name)> useDecodeModel;
    // The model the running daemon decodes with now (a first start may have chosen one since the
    // configuration was read); unset: DECODE_MODEL as read at start.
    std::function<std::string()> decodeModelInUse;
    // Remembers that `mode` was picked on the pill while `app` was in front.
    std::function<void(std::string_view app, DeliverMode mode)> recordModePick;
    std::shared_ptr<FrontmostApp> frontmost;
    // Opens the log, the configuration file and the learned words.
    std::shared_ptr<FileOpener> files;
    // Taken down by Quit, restarted after the settings are saved.
    std::shared_ptr<ServiceControl> service;
    // Ends the event loop with a status (Quit).
    std::function<void(int status)> exit;
    // Seconds on a steady clock, for the elapsed time.
    std::function<double()> now;

    // The clipboard the status menu puts a dictation back on, or a retried recording's text.
    std::shared_ptr<Pasteboard> pasteboard;
    // How the desktop keeps the floating panels above other windows.
    std::shared_ptr<PanelPlacement> placement;
    // The sound system whose microphones the settings window lists.
    std::shared_ptr<AudioBackend> audio;
    // Where the work that may block runs: the history waits on the keyring, a retry on the
    // engines.
    Executor* background = nullptr;
    // The last `count` records of the history, opened in memory only. Blocks.
    std::function<HistoryReading(std::size_t count)> readHistory;
    // A recording kept after a failed decode, decoded again and formatted. Blocks.
    std::function<std::optional<std::string>(const std::string& wav)> retryRecording;
    // "Start at login", and the program it and the toggle shortcut start.
    std::shared_ptr<LoginItem> login;
    std::string program;
    // The trigger key an interface key event names by its native key, as the key monitor
    // reads it; nothing for keys that cannot be one.
    std::function<std::optional<std::uint16_t>(std::uint32_t nativeKey)> triggerCodeForKey;
    // Adds the desktop's shortcut that runs `program --toggle` (SHORTCUT_CHORD), for where the
    // trigger key cannot be watched. Blocks for as long as the desktop's settings take.
    std::function<ShortcutOffer()> addToggleShortcut;
    // The sibling producer's files, which its panel shows.
    std::string producerInbox;
    std::string producerOutbox;
    UiPaths paths;
    // Where the recordings kept after a failed decode are listed from.
    ScratchFiles scratch;

    // The configuration file, mode memory, history and engines of `values` (which outlive the
    // services), the platform services `platform`, the decodes' shared `decodes`, the Qt event
    // loop and the steady clock.
    static UiServices from(const ProcessValues& values, const PlatformServices& platform,
                           const DecodeMemory& decodes);
};

// A mode picked on the pill: it becomes SELECTED_MODE and, unless it is "ask", counts for the
// application in front.
void rememberModePick(const UiServices& services, DeliverMode mode);

} // namespace vak
