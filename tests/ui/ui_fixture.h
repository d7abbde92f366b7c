#pragma once

// Shared by the interface tests: a scripted session, and the event-loop helpers.

#include "base/time_util.h"
#include "session/session_ui.h"

#include <QApplication>
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

// One application object per test program (it is bound to its display).
inline QApplication& application(const char* name) {
    static int argc = 1;
    static char program[64];
    static char* argv[] = {program, nullptr};
    static QApplication* app = [name] {
        std::snprintf(program, sizeof program, "%s", name);
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Runs the event loop until `done` holds or `seconds` pass; true when it held.
template <typename Done>
bool spinUntil(Done done, double seconds = 10) {
    const auto deadline = deadlineAfter(seconds);
    while (!done()) {
        if (SteadyClock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

inline void spinFor(double seconds) {
    spinUntil([] { return false; }, seconds);
}

} // namespace vak::test
