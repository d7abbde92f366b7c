#include "session/key_recognizer.h"

#include "base/log.h"
#include "foundation/config.h"
#include "foundation/constants.h"
#include "foundation/trigger_keys.h"

#include <chrono>

namespace vak {

namespace {

// Two producer-key taps closer than this toggle the session once.
constexpr double kProducerDebounceSeconds = 1.5;

double secondsSince1970() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool has(std::uint64_t flags, std::uint64_t mask) {
    return (flags & mask) != 0;
}

} // namespace

TriggerSettings TriggerSettings::fromConfig(const Config& config, bool producerToolsInstalled) {
    return {config.hotkey, config.producerKey, config.talkMode, config.holdSeconds,
            producerToolsInstalled};
}

KeyRecognizer::KeyRecognizer(KeyActions& actions, TriggerSettings settings, WallClock now,
                             MainQueue* main, std::shared_ptr<KeyMonitor> monitor)
    : actions_(actions), settings_(settings), now_(now ? std::move(now) : secondsSince1970),
      hold_(actions, main, settings.talkMode, settings.holdSeconds), monitor_(std::move(monitor)) {}

void KeyRecognizer::handle(const InputEvent& event) {
    const bool flagsChanged = event.kind == InputEventKind::FlagsChanged;
    if (flagsChanged && event.keyCode == settings_.hotkey) {
        if (has(event.flags, triggerKey(settings_.hotkey).bit)) {
            triggerKeyDown(event.flags);
        } else {
            triggerKeyUp();
        }
        return;
    }
    if (flagsChanged && settings_.watchesProducerKey() && event.keyCode == settings_.producerKey) {
        if (has(event.flags, triggerKey(settings_.producerKey).bit)) {
            producerKeyDown(event.flags);
        } else {
            producerKeyUp();
        }
        return;
    }
    if (event.kind == InputEventKind::KeyDown && event.keyCode == ESCAPE_KEY_CODE &&
        actions_.isRecording()) {
        // Escape is activity too: a trigger key held through it must not start a new recording
        // when it is released after the cancel.
        otherKeyActivity();
        // A hold's recording is already gone with the veto.
        if (actions_.isRecording()) actions_.cancelRecording();
        return;
    }
    otherKeyActivity();
}

void KeyRecognizer::otherKeyActivity() {
    if (triggerDown_) {
        soloCandidate_ = false;
        cmdCandidate_ = false;
        hold_.vetoed();
    }
    if (producerTriggerDown_) producerSolo_ = false;
}

void KeyRecognizer::triggerKeyDown(std::uint64_t flags) {
    triggerDown_ = true;
    if (producerTriggerDown_) producerSolo_ = false;
    // The trigger's own modifier is not "another key held": a Shift or Option trigger taps too.
    const std::uint64_t others = flagsBesides(triggerKey(settings_.hotkey), flags);
    const bool plain = !has(others, SHIFT_MASK) && !has(others, CONTROL_MASK);
    // With Left Command held it is a chord (a Left Command trigger's own bit is not in `others`).
    const bool leftCommandFree = !has(others, LEFT_CMD_BIT);
    if (plain && leftCommandFree) {
        if (!has(others, OPTION_MASK)) {
            soloCandidate_ = true;
            cmdCandidate_ = false;
        } else {
            soloCandidate_ = false;
            cmdCandidate_ = !actions_.isRecording();
        }
    } else {
        soloCandidate_ = false;
        cmdCandidate_ = false;
    }
    if (soloCandidate_) hold_.pressed();
}

void KeyRecognizer::triggerKeyUp() {
    const bool wasCommand = cmdCandidate_;
    const bool wasSolo = soloCandidate_;
    triggerDown_ = false;
    soloCandidate_ = false;
    cmdCandidate_ = false;
    if (wasCommand) {
        actions_.startCommandMode();
    } else if (wasSolo && !hold_.released()) {
        if (monitor_ && monitor_->secureInputActive()) {
            log(LogLevel::info,
                "secure input active — keyboard-chord veto degraded, toggling anyway");
        }
        if (!actions_.isRecording()) {
            actions_.startRecording();
        } else {
            actions_.stopAndTranscribe();
        }
    }
}

void KeyRecognizer::producerKeyDown(std::uint64_t flags) {
    producerTriggerDown_ = true;
    // Holding both keys vetoes both taps.
    if (triggerDown_) {
        soloCandidate_ = false;
        cmdCandidate_ = false;
        hold_.vetoed();
    }
    const std::uint64_t others = flagsBesides(triggerKey(settings_.producerKey), flags);
    producerSolo_ = !has(others, SHIFT_MASK) && !has(others, CONTROL_MASK) &&
                    !has(others, OPTION_MASK) && !has(others, triggerKey(settings_.hotkey).bit);
}

void KeyRecognizer::producerKeyUp() {
    const bool wasSolo = producerSolo_;
    producerSolo_ = false;
    producerTriggerDown_ = false;
    if (!wasSolo) return;
    const double now = now_();
    if (now - lastMicToggle_ <= kProducerDebounceSeconds) {
        log(LogLevel::info, "session toggle debounced");
        return;
    }
    lastMicToggle_ = now;
    if (!actions_.producerSessionOn()) {
        actions_.startProducerSession();
    } else {
        actions_.endProducerSession();
    }
}

} // namespace vak
