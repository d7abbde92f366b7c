#pragma once

// Shared by the interface tests: a scripted session.

#include "session/session_ui.h"

#include <string>
#include <vector>

namespace vak::test {

// The session controller as the interface sees it, recording what it is asked to do.
class FakeSession final : public SessionControl {
  public:
    bool isRecording() const override { return recording; }
    void toggle() override { calls.emplace_back("toggle"); }
    void cancelRecording() override { calls.emplace_back("cancel"); }
    void finishInstantly() override { calls.emplace_back("finish"); }
    void pauseCapture() override {
        paused = true;
        calls.emplace_back("pause");
    }
    void resumeCapture() override {
        paused = false;
        calls.emplace_back("resume");
    }
    bool isCapturePaused() const override { return paused; }

    bool recording = false;
    bool paused = false;
    std::vector<std::string> calls;
};

} // namespace vak::test
