#include "ui/ui_texts.h"

#include "foundation/trigger_keys.h"

namespace vak::ui_text {

std::string triggerKeyName(std::uint16_t code) {
    std::string name(triggerKey(code).name);
#ifndef __APPLE__
    // The same keys under the names a PC keyboard gives them.
    for (const auto& [mac, pc] :
         {std::pair<std::string_view, std::string_view>{"Command", "Super"}, {"Option", "Alt"}}) {
        if (const auto at = name.find(mac); at != std::string::npos)
            name.replace(at, mac.size(), pc);
    }
#endif
    return name;
}

std::string startTitle() {
    return "Start Dictation (" + std::string(TRIGGER_SHORT) + ")";
}

std::string stopTitle() {
    return "Stop & Transcribe (" + std::string(TRIGGER_SHORT) + ")";
}

std::string retriedMessage(std::string_view when) {
    return "The recording of " + std::string(when) + " is on the clipboard as text.";
}

std::string retryFailedMessage(std::string_view when) {
    return "No engine could transcribe the recording of " + std::string(when) +
           " this time either; it stays for another try.";
}

std::string doneTooltip() {
    return "Finish and paste. The " + std::string(TRIGGER_LONG) + " key does the same thing.";
}

std::string hint() {
    return "Tap " + std::string(TRIGGER_SHORT) + " to finish, or press Done";
}

std::string firstRunText() {
    return "You tapped " + std::string(TRIGGER_LONG) +
           ", said a sentence, and tapped it again. Your words were written on our servers, "
           "tidied up, and typed straight into wherever your cursor already was.\n"
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
           std::string(THIS_COMPUTER) + ", and nothing was saved.";
}

std::string producerTitle() {
    return "🎛 DURAD AVE — live session · tap " + std::string(PRODUCER_SHORT) + " to end";
}

} // namespace vak::ui_text
