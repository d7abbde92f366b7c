#include "app/daemon.h"

#include "app/daemon_startup.h"
#include "audio/input_devices.h"
#include "base/global_queues.h"
#include "base/log.h"
#include "base/main_queue.h"
#include "foundation/process_values.h"
#include "history/legacy_purge.h"
#include "history/retention.h"
#include "platform/audio_backend.h"
#include "session/dictation.h"
#include "session/key_recognizer.h"
#include "session/monitor_arming.h"
#include "text/learned_words.h"
#include "text/snippets.h"
#include "ui/demos.h"
#include "ui/desktop_app.h"
#include "ui/ui_controller.h"

#include <csignal>
#include <cstdlib>

namespace vak {

namespace {

#ifdef __APPLE__
constexpr const char* kMicNotGranted =
    "Microphone NOT granted — System Settings ▸ Privacy & Security ▸ Microphone.";
#else
constexpr const char* kMicNotGranted =
    "Microphone NOT granted — sound server (PulseAudio or PipeWire) ▸ Input.";
#endif

} // namespace

int runDaemon(const std::vector<std::string>& args) {
    const auto& values = processValues();
    const std::optional<DemoRunner> demo = args.size() >= 2 ? demoFor(args[1]) : std::nullopt;

    // The key monitor, the synthetic keys and the window hints all speak X11.
    if (std::getenv("DISPLAY") == nullptr || *std::getenv("DISPLAY") == '\0') {
        log(LogLevel::serious,
            "no X11 display (DISPLAY is not set) — vak-dictate needs an X11 or XWayland "
            "session");
        return 1;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "xcb", 1);

    DesktopApp desktop(args);
    MainQueue& main = desktop.mainQueue();

    // 1–3: which engines are here.
    const EngineCheck engines = EngineCheck::fromProcess(values);
    logEngineCheck(engines, values);
    // 4: what crashed runs left behind. The one-time purge of plain-text transcripts runs here
    // too, before this start logs its own "✓" lines, which it would otherwise take for them.
    values.scratch.sweep(values.cfg.historyDays, std::time(nullptr));
    purgeLegacyPlaintext();

    // 5: the session controller and the interface, which refer to each other.
    UIController ui(nullptr, main, values.cfg, UiServices::fromProcess());
    auto dictation = Dictation::create(ui, DictationSettings::fromProcess(),
                                       DictationServices::fromProcess(main));
    ui.setSession(dictation.get());

    int status = 0;
    if (demo) {
        // 6: a demo runs in place of the rest.
        status = (*demo)(ui);
    } else {
        // 7: the microphone answers when a sound server does.
        globalQueue(QoS::Utility).async([] {
            if (audioBackend()->available()) {
                log(LogLevel::ok, "Microphone granted");
            } else {
                log(LogLevel::warning, kMicNotGranted);
            }
        });

        // 8: may we watch the keyboard?
        KeyRecognizer recognizer(*dictation, TriggerSettings::fromConfig(values.cfg));
        auto arming = MonitorArming::create(
            TriggerSettings::fromConfig(values.cfg),
            [&recognizer, &ui](const InputEvent& event) {
                // The settings window is taking a new trigger key: that press is not a tap.
                if (!ui.isCapturingHotkey()) recognizer.handle(event);
            },
            main);
        arming->ensureAccessibility();

        // 10: the status item and the pill.
        ui.setup();

        // 11.
        if (values.cfg.liveCaptions && !engines.captionModelFound) {
            log(LogLevel::warning,
                "caption model missing at " + values.cfg.captionModel +
                    " — live captions disabled (download it or set CAPTION_MODEL in " +
                    values.CONFIG_PATH + ")");
        }
        // 12: the key monitor, now or once input may be watched.
        arming->armWhenTrusted();

        // 13: test signals.
        const bool watching = desktop.watchTestSignals([&dictation](int signo) {
            if (signo == SIGUSR1) {
                log(LogLevel::testSignal, "simulated tap (SIGUSR1)");
                dictation->toggle();
            } else if (signo == SIGUSR2) {
                log(LogLevel::testSignal, "simulated insert (SIGUSR2)");
                dictation->insert("VAK_TEST_INSERT_OK");
            }
        });
        if (!watching)
            log(LogLevel::warning, "test signals unavailable — SIGUSR1/SIGUSR2 are ignored");

        // 14: the microphone plan, for the banner.
        BannerFacts facts;
        facts.engines = engines;
        for (const auto& device : resolveInputCandidates(values.cfg.inputDevice)) {
            facts.micPlan.push_back(device.name);
        }
        // 15.
        retentionSweep();
        // 16.
        facts.learnedCount = loadLearnedWords().size();
        facts.snippetCount = loadSnippets().size();
        log(LogLevel::banner, bannerLine(values.cfg, facts));
        // 17: for good, until Quit.
        status = desktop.run();
    }
    return status;
}

} // namespace vak
