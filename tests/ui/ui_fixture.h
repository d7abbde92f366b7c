#pragma once

// Shared by the interface tests: what both use, and a scripted session.
#include "base/files.h"
#include "foundation/process_values.h"
#include "support/qt_desktop.h"
#include "ui/choice_panel.h"
#include "ui/demos.h"
#include "ui/pill_panel.h"
#include "ui/ui_controller.h"
#include "ui/waveform_view.h"

#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <filesystem>

#include <gtest/gtest.h>

namespace vak::test {

// The session controller as the interface sees it, recording what it is asked to do.
struct FakeSession final : SessionControl {
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
