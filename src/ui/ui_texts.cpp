#include "ui/ui_texts.h"

#include "foundation/trigger_keys.h"
#include "platform/desktop_shortcut.h"
#include "platform/host.h"
#include "platform/key_names.h"

namespace vak::ui_text {

std::string startTitle(std::uint16_t hotkey) {
    return "Start Dictation (" + triggerKeyShortName(hotkey) + ")";
}

std::string stopTitle(std::uint16_t hotkey) {
    return "Stop & Transcribe (" + triggerKeyShortName(hotkey) + ")";
}

std::string doneTooltip(std::uint16_t hotkey) {
    return "Finish and paste. The " + triggerKeyName(hotkey) + " key does the same thing.";
}

std::string retriedMessage(std::string_view when) {
    return "The recording of " + std::string(when) + " is on the clipboard as text.";
}

std::string retryFailedMessage(std::string_view when) {
    return "No engine could transcribe the recording of " + std::string(when) +
           " this time either; it stays for another try.";
}

std::string shortcutButton(std::string_view chord) {
    const auto parsed = parseShortcutChord(chord);
    return "Add shortcut: " + (parsed ? chordText(*parsed) : std::string(chord));
}

std::string hint(std::uint16_t hotkey) {
    return "Tap " + triggerKeyShortName(hotkey) + " to finish, or press Done";
}

std::string firstRunText(std::uint16_t hotkey, TranscribedOn where, bool historyKept) {
    const std::string transcribed =
        where == TranscribedOn::CloudEngine
            ? "Your words were written down by the cloud engine"
            : "Your words were written down right here on " + std::string(host().computer);
    // Only a dictation the key started was one the user tapped for.
    const std::string started = hotkey != 0 ? "You tapped " + triggerKeyName(hotkey) +
                                                  ", said a sentence, and tapped it again. "
                                            : "You started a recording, said a sentence, and "
                                              "stopped it. ";
    return started + transcribed +
           ", tidied up, and typed straight into wherever your cursor already was.\n"
           "\n"
           "Two things worth knowing.\n"
           "\n"
           "The button in the middle of the bar changes how it writes. Normal keeps your words as "
           "they are. Professional cleans them into something you can send. There are three "
           "more.\n"
           "\n"
           "The red X throws a recording away, and Escape does the same.\n"
           "\n"
           "It works in every app on " +
           std::string(host().computer) +
           (historyKept ? ", and what you said was kept in your encrypted history."
                        : ", and nothing was saved.");
}

std::string producerTitle(std::uint16_t producerKey) {
    return "🎛 DURAD AVE — live session · tap " + triggerKeyShortName(producerKey) + " to end";
}

std::string modelItem(std::string_view name, std::string_view engine,
                      std::optional<std::int64_t> mebibytes, bool installed,
                      std::optional<std::string> speed) {
    std::string item = std::string(name) + " · " + std::string(engine);
    if (mebibytes) item += " · " + std::to_string(*mebibytes) + " MiB";
    item += installed ? " — installed" : mebibytes ? " — download" : " — not installed";
    return item + " · " + speed.value_or("not measured");
}

std::string modelDownloading(std::string_view name, std::string_view progress) {
    return "Downloading " + std::string(name) + ":  " + std::string(progress);
}

std::string modelInUse(std::string_view name) {
    return "Dictations are decoded with " + std::string(name) + " from now on.";
}

std::string modelNotDownloadable(std::string_view name) {
    return std::string(name) + " is not a model it can download: put ggml-" + std::string(name) +
           ".bin into ~/.whisper-models yourself.";
}

} // namespace vak::ui_text
