#pragma once

#include "support/wait.h"
#include "support/xvfb.h"
#include "ui/qt_main_queue.h"

#include <QApplication>
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

namespace vak::test {

// One application object per test program (it is bound to its display). From then on every
// wait runs its event loop, so our windows and a clipboard we own keep answering.
inline QApplication& qtApplication() {
    static int argc = 1;
    static char program[] = "vak-tests";
    static char* argv[] = {program, nullptr};
    static QApplication* app = [] {
        eventPump() = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); };
        return new QApplication(argc, argv);
    }();
    return *app;
}

// A private Xvfb display with the application on it and Qt's main queue installed, for the whole
// test program (::testing::AddGlobalTestEnvironment); under ctest each test gets a fresh one.
class QtDesktop final : public ::testing::Environment {
  public:
    QtDesktop() { instance = this; }
    void SetUp() override {
        xvfb_ = std::make_unique<Xvfb>();
        if (!xvfb_->running()) return;
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        qtApplication();
        queue_ = std::make_unique<QtMainQueue>();
        installMainQueue(queue_.get());
    }
    void TearDown() override {
        installMainQueue(nullptr);
        queue_.reset();
        xvfb_.reset();
    }

    // Why there is no display; empty when there is one.
    static std::string missing() {
        return instance->xvfb_->running() ? "" : instance->xvfb_->why();
    }
    static QtMainQueue& queue() { return *instance->queue_; }

  private:
    static inline QtDesktop* instance = nullptr;
    std::unique_ptr<Xvfb> xvfb_;
    std::unique_ptr<QtMainQueue> queue_;
};

} // namespace vak::test
