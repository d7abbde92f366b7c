#include "session/hold_to_talk.h"

#include "base/log.h"
#include "base/main_queue.h"
#include "session/key_recognizer.h"

namespace vak {

HoldToTalk::HoldToTalk(KeyActions& actions, MainQueue* main, TalkMode mode, double holdSeconds)
    : actions_(actions), main_(main), mode_(main != nullptr ? mode : TalkMode::Tap),
      holdSeconds_(holdSeconds) {}

HoldToTalk::~HoldToTalk() {
    timer_.cancel();
}

void HoldToTalk::pressed() {
    if (state_ == State::Holding) return; // the key reported down again while held
    timer_.cancel();
    state_ = State::Idle;
    if (mode_ == TalkMode::Tap || actions_.isRecording()) return;
    state_ = State::Armed;
    timer_ = main_->after(holdSeconds_, [this] { thresholdReached(); });
}

void HoldToTalk::thresholdReached() {
    // Something else (the menu, a test signal) may have started a recording meanwhile.
    if (state_ != State::Armed || actions_.isRecording()) {
        state_ = State::Idle;
        return;
    }
    state_ = State::Holding;
    log(LogLevel::info, "trigger key held — recording until it is released");
    actions_.startRecording();
}

void HoldToTalk::vetoed() {
    timer_.cancel();
    const bool wasHolding = state_ == State::Holding;
    state_ = State::Idle;
    if (wasHolding && actions_.isRecording()) {
        log(LogLevel::info, "another key or a click during the hold — its recording is dropped");
        actions_.cancelRecording();
    }
}

bool HoldToTalk::released() {
    timer_.cancel();
    const State state = state_;
    state_ = State::Idle;
    if (state == State::Holding) {
        if (actions_.isRecording()) actions_.stopAndTranscribe();
        return true;
    }
    if (state == State::Armed && mode_ == TalkMode::Hold) {
        log(LogLevel::info, "tap ignored — TALK_MODE=hold: hold the trigger key while you speak");
        return true;
    }
    return false;
}

} // namespace vak
