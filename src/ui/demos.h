#pragma once

#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace vak {

class UIController;

// The demo modes: a piece of the interface on screen for a few seconds, then the event loop
// ends with status 0. The start-up runs one (after creating the session controller and the
// interface) in place of the daemon's remaining steps and returns what it returns:
//
//     if (auto demo = demoFor(args[1])) return (*demo)(ui);
//
// Each needs the Qt application and the main queue installed.
using DemoRunner = int (*)(UIController& ui);

// The runner a first argument names ("--settings-demo", "--explain-demo", "--hud-demo",
// "--mode-info-demo"); nothing for any other argument.
std::optional<DemoRunner> demoFor(std::string_view flag);

// The settings window, for 8 s.
int runSettingsDemo(UIController& ui);
// The first-dictation note (the marker removed first), for 20 s.
int runExplainDemo(UIController& ui);
// The recording pill with simulated level and captions, for VAK_DEMO_SECS seconds (9 when
// absent or not a number); the professional mode is picked after 3 s.
int runHudDemo(UIController& ui);
// The mode explainer, for 6 s.
int runModeInfoDemo(UIController& ui);

// The HUD demo's length from the value of VAK_DEMO_SECS.
double hudDemoSeconds(const char* value);

// The HUD demo without an event loop of its own, so a test can drive it: shows the pill, feeds
// it, and calls `onDone` after `seconds`. Stops when destroyed.
class HudDemo {
  public:
    HudDemo(UIController& ui, double seconds, std::function<void()> onDone);
    ~HudDemo();
    HudDemo(const HudDemo&) = delete;
    HudDemo& operator=(const HudDemo&) = delete;

    // The sample sentence the captions grow through.
    static std::string_view sampleSentence();

  private:
    UIController& ui_;
    QTimer level_;
    QTimer captions_;
    QTimer pickMode_;
    QTimer end_;
    double t_ = 0;
    int words_ = 0;
};

} // namespace vak
