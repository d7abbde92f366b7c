#include "ui/demos.h"

#include "base/environment.h"
#include "base/files.h"
#include "ui/ui_controller.h"

#include <QApplication>
#include <cmath>
#include <cstdlib>
#include <string>

namespace vak {

namespace {

constexpr double kHudDefaultSeconds = 9;
constexpr int kFrameMilliseconds = 1000 / 30;
constexpr int kCaptionMilliseconds = 220;
constexpr int kPickModeMilliseconds = 3000;

// 200 characters.
constexpr std::string_view kSample =
    "So the plan for Thursday is simple: we ship the new onboarding flow, watch the numbers for "
    "a day, and if sign-ups hold steady we roll it out to everyone next week, right before the "
    "big product review.";

// Runs the event loop until `seconds` have passed, then ends it with status 0.
int runFor(double seconds) {
    QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer,
                       [] { QCoreApplication::exit(0); });
    return QApplication::exec();
}

std::string firstWords(std::string_view text, int count) {
    std::size_t end = 0;
    for (int i = 0; i < count && end < text.size(); ++i) {
        const auto next = text.find(' ', end + (i == 0 ? 0 : 1));
        end = next == std::string_view::npos ? text.size() : next;
    }
    return std::string(text.substr(0, end));
}

} // namespace

std::optional<DemoRunner> demoFor(std::string_view flag) {
    if (flag == "--settings-demo") return &runSettingsDemo;
    if (flag == "--explain-demo") return &runExplainDemo;
    if (flag == "--hud-demo") return &runHudDemo;
    if (flag == "--mode-info-demo") return &runModeInfoDemo;
    return std::nullopt;
}

int runSettingsDemo(UIController& ui) {
    ui.panels().settings().show();
    return runFor(8);
}

int runExplainDemo(UIController& ui) {
    removeFile(ui.services().paths.firstRunMarker);
    ui.explainAfterFirstDictation(TranscribedOn::ThisComputer, true);
    return runFor(20);
}

int runModeInfoDemo(UIController& ui) {
    ui.panels().modeInfo().show();
    return runFor(6);
}

double hudDemoSeconds(const char* value) {
    if (value == nullptr || *value == '\0') return kHudDefaultSeconds;
    char* end = nullptr;
    const double seconds = std::strtod(value, &end);
    if (*end != '\0' || !std::isfinite(seconds) || seconds < 0) return kHudDefaultSeconds;
    return seconds;
}

int runHudDemo(UIController& ui) {
    const auto seconds = envValue(Env::DemoSeconds);
    HudDemo demo(ui, hudDemoSeconds(seconds ? seconds->c_str() : nullptr),
                 [] { QCoreApplication::exit(0); });
    return QApplication::exec();
}

std::string_view HudDemo::sampleSentence() {
    return kSample;
}

HudDemo::HudDemo(UIController& ui, double seconds, std::function<void()> onDone) : ui_(ui) {
    ui_.setup();
    ui_.recordingStarted();

    level_.setTimerType(Qt::PreciseTimer);
    level_.setInterval(kFrameMilliseconds);
    QObject::connect(&level_, &QTimer::timeout, &level_, [this] {
        t_ += 1.0 / 30;
        // Bursts of speech with pauses between them.
        const double level = std::max(std::sin(1.1 * t_), 0.0) > 0.15
                                 ? std::sin(3.7 * t_) * std::sin(9 * t_) * 0.45 + 0.55
                                 : 0.02;
        ui_.setLevel(static_cast<float>(std::min(level, 1.0)));
    });
    level_.start();

    captions_.setInterval(kCaptionMilliseconds);
    QObject::connect(&captions_, &QTimer::timeout, &captions_, [this] {
        const std::string shown = firstWords(kSample, ++words_);
        ui_.setCaption(shown);
        if (shown.size() == kSample.size()) captions_.stop();
    });
    captions_.start();

    pickMode_.setSingleShot(true);
    QObject::connect(&pickMode_, &QTimer::timeout, &pickMode_,
                     [this] { ui_.modeMenu().select(DeliverMode::professional); });
    pickMode_.start(kPickModeMilliseconds);

    end_.setSingleShot(true);
    end_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&end_, &QTimer::timeout, &end_, [onDone = std::move(onDone)] {
        if (onDone) onDone();
    });
    end_.start(static_cast<int>(seconds * 1000));
}

HudDemo::~HudDemo() {
    level_.stop();
    captions_.stop();
    pickMode_.stop();
    end_.stop();
}

} // namespace vak
