#pragma once

#include <functional>
#include <string_view>
#include <utility>

namespace vak {

class SessionControl;

// The session controller as the interface's parts reach it, and the pause our own windows (the
// settings window, the mode menu, the mode explainer) put on its recording while they are open.
// Until the session is set every call does nothing: the session controller and the interface
// refer to each other, so one of them is made first. Main thread.
class SessionLink {
  public:
    // Puts the pill's paused look on (with the reason) or takes it off.
    using ShowPaused = std::function<void(bool paused, std::string_view reason)>;

    explicit SessionLink(ShowPaused showPaused) : showPaused_(std::move(showPaused)) {}

    void set(SessionControl* session) { session_ = session; }
    SessionControl* get() const { return session_; }
    bool isRecording() const;

    // Pauses the capture of a running recording and shows why; false when nothing is recording
    // or the capture is paused already.
    bool pause(std::string_view reason);
    // Resumes a paused capture and takes the paused look off; false when it was not paused.
    bool resume();

  private:
    SessionControl* session_ = nullptr;
    ShowPaused showPaused_;
};

} // namespace vak
