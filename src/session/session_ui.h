#pragma once

#include "foundation/deliver_mode.h"

#include <functional>
#include <string>

namespace vak {

// Where a dictation's words were turned into text, for the note that tells the user.
enum class TranscribedOn { ThisComputer, CloudEngine };

// What the session controller shows through the interface: the recording pill, the status item
// and the panels. Every call comes on the main thread.
class SessionUi {
  public:
    virtual ~SessionUi() = default;

    virtual void recordingStarted() = 0;
    virtual void recordingStopped() = 0;
    virtual void setCaption(const std::string& text) = 0;
    // Microphone level, 0…1 (larger values count as 1).
    virtual void setLevel(float level) = 0;
    // Background jobs in flight: count += delta, never below 0; the idle look shows when 0.
    virtual void setBusy(int delta) = 0;

    // The writing mode selected on the pill, and whether the user picked one during the
    // current recording.
    virtual DeliverMode selectedMode() const = 0;
    virtual bool modePickedThisRecording() const = 0;

    // Offers Summarize / Professional / Keep for an ask-mode transcript. A panel still open from
    // an earlier transcript is resolved as Keep first. Exactly one action runs, on the main
    // queue; no answer within POLISH_ASK_TIMEOUT counts as Keep.
    virtual void presentChoice(const std::string& transcript, std::function<void()> onSummarize,
                               std::function<void()> onProfessional,
                               std::function<void()> onKeep) = 0;
    // The one-time note after the first successful dictation, saying where it was transcribed
    // and, when the trigger key started it, naming the key.
    virtual void explainAfterFirstDictation(TranscribedOn where, bool startedWithKey) = 0;
    // A short message for the user after the recording has ended (a text that could not be
    // pasted and waits on the clipboard).
    virtual void showNotice(const std::string& message) = 0;

    // The producer link's live panel.
    virtual void showProducerPanel() = 0;
    virtual void hideProducerPanel() = 0;
};

// What the interface asks of the session controller (menu items, pill buttons, the settings
// window pausing a recording). Main thread only.
class SessionControl {
  public:
    virtual ~SessionControl() = default;

    virtual bool isRecording() const = 0;
    virtual void toggle() = 0;
    virtual void cancelRecording() = 0;
    // Stop and paste at once, never asking which mode (the pill's Done button).
    virtual void finishInstantly() = 0;
    virtual void pauseCapture() = 0;
    virtual void resumeCapture() = 0;
    virtual bool isCapturePaused() const = 0;
};

} // namespace vak
