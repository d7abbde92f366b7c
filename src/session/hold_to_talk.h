#pragma once

#include "base/timer_handle.h"
#include "foundation/talk_mode.h"

namespace vak {

class KeyActions;
class MainQueue;

// Push-to-talk on the trigger key: a solo press that is still held after `holdSeconds` starts a
// recording, and its release stops it; a shorter press stays a tap. A chord or Escape during
// the hold throws its recording away, as it turns a tap into nothing. Only a press made while
// idle can become a hold: a press while recording stops at its release either way.
//
// The key recogniser calls it for the solo presses of the trigger key; main thread only.
class HoldToTalk {
  public:
    // Without a main queue there is no hold timer: every press is a tap.
    HoldToTalk(KeyActions& actions, MainQueue* main, TalkMode mode, double holdSeconds);
    ~HoldToTalk();
    HoldToTalk(const HoldToTalk&) = delete;
    HoldToTalk& operator=(const HoldToTalk&) = delete;

    // A press that can still count as a solo tap began.
    void pressed();
    // Other activity during the press made it a chord.
    void vetoed();
    // The solo press ended. True when the hold dealt with it (stopped its recording, or ignored
    // a tap in hold-only mode); false leaves it to toggle as a tap.
    bool released();

    bool holding() const { return state_ == State::Holding; }

  private:
    enum class State { Idle, Armed, Holding };
    void thresholdReached();

    KeyActions& actions_;
    MainQueue* main_;
    TalkMode mode_;
    double holdSeconds_;
    State state_ = State::Idle;
    TimerHandle timer_;
};

} // namespace vak
