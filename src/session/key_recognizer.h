#pragma once

#include "platform/key_monitor.h"
#include "session/hold_to_talk.h"

#include <cstdint>
#include <functional>

namespace vak {

struct Config;
class MainQueue;

// What a recognised tap does. The session controller implements it; every call comes on the
// main thread.
class KeyActions {
  public:
    virtual ~KeyActions() = default;
    virtual bool isRecording() const = 0;
    virtual void startRecording() = 0;
    virtual void stopAndTranscribe() = 0;
    virtual void cancelRecording() = 0;
    // Trigger key tapped with Option held while idle.
    virtual void startCommandMode() = 0;
    // The producer session (toggled by solo taps of the producer key).
    virtual bool producerSessionOn() const = 0;
    virtual void startProducerSession() = 0;
    virtual void endProducerSession() = 0;
};

// Which keys are watched: the trigger key, and the producer key unless it is 0 or the trigger,
// or the producer's tools are not installed (a tap would then start a session of nobody); and
// how the trigger key talks.
struct TriggerSettings {
    std::uint16_t hotkey{};
    std::uint16_t producerKey{};
    TalkMode talkMode{};
    double holdSeconds{};
    bool producerToolsInstalled = true;

    static TriggerSettings fromConfig(const Config& config, bool producerToolsInstalled);
    bool producerKeySet() const { return producerKey != 0 && producerKey != hotkey; }
    bool watchesProducerKey() const { return producerKeySet() && producerToolsInstalled; }
};

// Turns the global monitor's events into taps. A press of the trigger key counts only when it
// is released with nothing else pressed, clicked or scrolled in between ("solo"); with Option
// held it is the command-mode chord; Escape cancels a recording. The producer key toggles the
// producer session on solo taps, at most once per 1.5 s.
//
// Main thread only. The state fields start false and change only through the calls below.
class KeyRecognizer {
  public:
    // Seconds since 1970, for the producer-key debounce.
    using WallClock = std::function<double()>;

    // `main` runs the hold timer; without it every press is a tap. A tap asks `monitor` whether
    // secure input blunts the chord veto, to say so; without one nothing is asked.
    KeyRecognizer(KeyActions& actions, TriggerSettings settings, WallClock now = {},
                  MainQueue* main = nullptr, std::shared_ptr<KeyMonitor> monitor = nullptr);
    KeyRecognizer(const KeyRecognizer&) = delete;
    KeyRecognizer& operator=(const KeyRecognizer&) = delete;

    // The monitor's handler: routes one event to the calls below.
    void handle(const InputEvent& event);

    void triggerKeyDown(std::uint64_t flags);
    void triggerKeyUp();
    void producerKeyDown(std::uint64_t flags);
    void producerKeyUp();
    // Any keyboard or mouse activity that is not one of the watched keys: vetoes held taps.
    void otherKeyActivity();

    bool triggerDown() const { return triggerDown_; }
    bool soloCandidate() const { return soloCandidate_; }
    bool cmdCandidate() const { return cmdCandidate_; }
    bool producerTriggerDown() const { return producerTriggerDown_; }
    bool producerSolo() const { return producerSolo_; }
    const TriggerSettings& settings() const { return settings_; }

  private:
    KeyActions& actions_;
    TriggerSettings settings_;
    WallClock now_;
    bool triggerDown_ = false;
    bool soloCandidate_ = false;
    bool cmdCandidate_ = false;
    bool producerTriggerDown_ = false;
    bool producerSolo_ = false;
    double lastMicToggle_ = 0;
    HoldToTalk hold_;
    std::shared_ptr<KeyMonitor> monitor_;
};

} // namespace vak
