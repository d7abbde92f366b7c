#pragma once

#include "session/session_ui.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vak::ui_text {

// The words the interface shows. Texts that name a key take its code (HOTKEY, PRODUCER_KEY) and
// name it as this platform's keyboard labels it (foundation/trigger_keys.h): "Right ⌘" on a
// Mac, "Right Super" on Linux. Where a text points at a place that only exists on a Mac, the
// Linux build names what the user has there.

// Status menu.
std::string startTitle(std::uint16_t hotkey); // "Start Dictation (Right ⌘)"
std::string stopTitle(std::uint16_t hotkey);  // "Stop & Transcribe (Right ⌘)"
inline constexpr std::string_view CANCEL_TITLE = "Cancel Recording (discard)";
inline constexpr std::string_view SETTINGS_TITLE = "Settings…";
inline constexpr std::string_view LOG_TITLE = "Open Log";
inline constexpr std::string_view QUIT_TITLE = "Quit vak-dictate";

// Status menu: what the user can get back.
inline constexpr std::string_view RECENT_MENU = "Recent dictations";
inline constexpr std::string_view OPENING_HISTORY = "Opening the history…";
inline constexpr std::string_view FAILED_MENU = "Failed recordings";
inline constexpr std::string_view NO_FAILED_RECORDINGS = "None kept";
inline constexpr std::string_view RETRY_ITEM = "Retry";
inline constexpr std::string_view RETRYING_SUFFIX = " — retrying…";
inline constexpr std::string_view DELETE_ITEM = "Delete";
// The notice after a retry of the recording made at `when` ("YYYY-MM-DD HH:MM").
std::string retriedMessage(std::string_view when);
std::string retryFailedMessage(std::string_view when);

// Status titles.
inline constexpr std::string_view IDLE_STATUS = "🎙";
inline constexpr std::string_view BUSY_STATUS = "⏳";
inline constexpr std::string_view RECORDING_STATUS = "🔴 "; // followed by the elapsed time
inline constexpr std::string_view PAUSED_STATUS = "⏸";

// Recording pill.
inline constexpr std::string_view LISTENING = "Listening…";
inline constexpr std::string_view RECORDING = "Recording.";
inline constexpr std::string_view DONE_TITLE = "✓  Done";
std::string doneTooltip(std::uint16_t hotkey);
inline constexpr std::string_view CANCEL_BUTTON = "✕";
inline constexpr std::string_view CANCEL_TOOLTIP =
    "Throw this recording away. Always works, even when Escape does not.";
inline constexpr std::string_view MODE_PREFIX = "◈  ";
inline constexpr std::string_view MODE_BUTTON = "Mode";
inline constexpr std::string_view MODE_TOOLTIP = "How this dictation gets written.";
inline constexpr std::string_view SETTINGS_BUTTON = "⚙";
inline constexpr std::string_view SETTINGS_TOOLTIP =
    "Settings. Your recording pauses while this is open and picks up again when you close it.";
std::string hint(std::uint16_t hotkey); // "Tap Right ⌘ to finish, or press Done"
// The hint while the trigger key cannot be watched, and the caption's opening words then.
inline constexpr std::string_view DISARMED_HINT = "The trigger key is off: press Done to finish";
inline constexpr std::string_view DISARMED_CAPTION = "Trigger key off — ";
// The window titles of the pill and of the other floating panels, by which window managers
// that need rules for them (sway) find them.
inline constexpr std::string_view PILL_WINDOW_TITLE = "vak-dictate pill";
inline constexpr std::string_view PANEL_WINDOW_TITLE = "vak-dictate panel";
inline constexpr std::string_view NOTE_WINDOW_TITLE = "vak-dictate";
inline constexpr std::string_view PAUSED_FOR_SETTINGS = "Paused while settings are open.";
inline constexpr std::string_view PAUSED_FOR_MODE_MENU = "Paused while you pick a mode.";
inline constexpr std::string_view PAUSED_FOR_EXPLAINER = "Paused while you read about the modes.";

// Mode menu.
inline constexpr std::string_view ASK_ITEM = "Ask me after I stop";
inline constexpr std::string_view MODE_INFO_ITEM = "ⓘ What does each mode do?";

// Mode explainer.
inline constexpr std::string_view EXPLAINER_TITLE = "What each mode does";
inline constexpr std::string_view EXPLAINER_ASK_TITLE = "Ask (nothing picked)";
inline constexpr std::string_view EXPLAINER_DONE = "Done";

// Choice panel.
inline constexpr std::string_view SUMMARIZE_BUTTON = "Summarize";
inline constexpr std::string_view PROFESSIONAL_BUTTON = "Professional";
inline constexpr std::string_view KEEP_BUTTON = "Keep the Same";

// First-run note.
inline constexpr std::string_view FIRST_RUN_MESSAGE = "That is the whole thing";
inline constexpr std::string_view FIRST_RUN_BUTTON = "Got it";
// Says where the words were transcribed (on this computer, or by the cloud engine) and whether
// the history keeps them (privacy mode off). `hotkey` is 0 when the key did not start the
// dictation (the test signal, --toggle, the tray): the text then names no key.
std::string firstRunText(std::uint16_t hotkey, TranscribedOn where, bool historyKept);
// When a dictation could not be pasted (the words wait on the clipboard), for a few seconds.
inline constexpr double NOTICE_SECONDS = 5.0;

// Producer panel.
std::string producerTitle(std::uint16_t producerKey); // "… · tap Left ⌘ to end"

// Settings window.
inline constexpr std::string_view SETTINGS_WINDOW_TITLE = "Brindle Settings";
inline constexpr std::string_view SETTINGS_HEADING = "Brindle";
inline constexpr std::string_view HOTKEY_SECTION = "Key that starts and stops dictation";
inline constexpr std::string_view MIC_SECTION = "Microphone";
inline constexpr std::string_view LANGUAGE_SECTION = "Language";
inline constexpr std::string_view TALK_MODE_SECTION = "How the key talks";
inline constexpr std::string_view HOTKEY_HINT = "Click twice, then press the key you want.";
// Where the trigger key cannot be watched: the button that adds the desktop's own shortcut, and
// the words the pill's notice starts with then.
std::string shortcutButton(std::string_view chord); // "Add shortcut: Super+Alt+Space"
inline constexpr std::string_view SHORTCUT_NOTICE = "add a desktop shortcut in Settings (⚙), or ";
inline constexpr std::string_view HOTKEY_ARMED = "Click once more to change";
inline constexpr std::string_view HOTKEY_LISTENING = "Press any modifier key now";
inline constexpr std::string_view BUILT_IN_MIC = "Built in microphone";
inline constexpr std::string_view WHISPER_TOGGLE = "Whisper mode, for dictating quietly in public";
inline constexpr std::string_view LOGIN_TOGGLE = "Start at login";
inline constexpr std::string_view LOGIN_ON_STATUS = "It starts when you log in from now on.";
inline constexpr std::string_view LOGIN_OFF_STATUS = "It no longer starts when you log in.";
inline constexpr std::string_view LOGIN_FAILED_STATUS = "Could not change the login start: ";
inline constexpr std::string_view ADVANCED_BUTTON = "Advanced settings…";
inline constexpr std::string_view DICTIONARY_BUTTON = "Words it gets wrong";
inline constexpr std::string_view SAVE_BUTTON = "Save";
inline constexpr std::string_view SAVED_STATUS = "Saved. Restarting Brindle.";
inline constexpr std::string_view RESTART_FAILED_STATUS = "Saved. Restart Brindle to apply.";
inline constexpr std::string_view DICTIONARY_HEADER =
    "# One per line. Write Canonical|misheard,variants to fix a word.\n";
inline constexpr std::string_view MODEL_SECTION = "Speech model on this computer";
inline constexpr std::string_view MODEL_HINT =
    "Smaller models write sooner; one not installed yet downloads when you pick it.";
// A row of the model list: its engine, size and speed here, as in "small.en · whisper · 466 MiB
// — download · not measured", "parakeet-tdt-0.6b-v3 · Parakeet · 1200 MiB — installed · 6 s of
// audio in 0.9 s".
std::string modelItem(std::string_view name, std::string_view engine,
                      std::optional<std::int64_t> mebibytes, bool installed,
                      std::optional<std::string> speed);
std::string modelDownloading(std::string_view name, std::string_view progress);
std::string modelInUse(std::string_view name);
std::string modelNotDownloadable(std::string_view name);

} // namespace vak::ui_text
