#include "ui/daemon.h"

#include "app/daemon_startup.h"
#include "app/log.h"
#include "app/process_values.h"
#include "audio/input_devices.h"
#include "base/global_queues.h"
#include "base/main_queue.h"
#include "history/legacy_purge.h"
#include "history/retention.h"
#include "platform/audio_backend.h"
#include "session/dictation.h"
#include "session/key_recognizer.h"
#include "session/monitor_arming.h"
#include "text/learned_words.h"
#include "text/snippets.h"
#include "ui/demos.h"
#include "ui/qt_main_queue.h"
#include "ui/ui_controller.h"

#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace vak {

namespace {

#ifdef __APPLE__
constexpr const char* kMicNotGranted =
    "⚠️ Microphone NOT granted — System Settings ▸ Privacy & Security ▸ Microphone.";
#else
constexpr const char* kMicNotGranted =
    "⚠️ Microphone NOT granted — sound server (PulseAudio or PipeWire) ▸ Input.";
#endif

// The test signals arrive on whatever thread; their handler only writes the signal's number to
// a pipe that the main loop watches, which is all a handler may safely do.
int signalPipe[2] = {-1, -1};

void onTestSignal(int signo) {
    const int saved = errno;
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool installTestSignals() {
    if (::pipe(signalPipe) != 0) return false;
    for (int fd : signalPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    struct sigaction action {};
    action.sa_handler = onTestSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGUSR1, &action, nullptr) == 0 &&
           ::sigaction(SIGUSR2, &action, nullptr) == 0;
}

// Qt's arguments must outlive the application object.
struct QtArguments {
    explicit QtArguments(const std::vector<std::string>& args) : storage(args) {
        if (storage.empty()) storage.emplace_back("vak-dictate");
        for (auto& arg : storage)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        count = static_cast<int>(storage.size());
    }
    std::vector<std::string> storage;
    std::vector<char*> pointers;
    int count = 0;
};

} // namespace

int runDaemon(const std::vector<std::string>& args) {
    const auto& values = processValues();
    const std::optional<DemoRunner> demo = args.size() >= 2 ? demoFor(args[1]) : std::nullopt;

    // The key monitor, the synthetic keys and the window hints all speak X11.
    if (std::getenv("DISPLAY") == nullptr || *std::getenv("DISPLAY") == '\0') {
        log("‼️ no X11 display (DISPLAY is not set) — vak-dictate needs an X11 or XWayland "
            "session");
        return 1;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "xcb", 1);

    QtArguments qtArgs(args);
    QApplication app(qtArgs.count, qtArgs.pointers.data());
    QApplication::setApplicationName("vak-dictate");
    QApplication::setQuitOnLastWindowClosed(false);
    QtMainQueue main;
    installMainQueue(&main);

    // 1–3: which engines are here.
    const EngineCheck engines = EngineCheck::fromProcess(values);
    logEngineCheck(engines, values);
    // 4: what crashed runs left behind. The one-time purge of plain-text transcripts runs here
    // too, before this start logs its own "✓" lines, which it would otherwise take for them.
    sweepScratch(values.SCRATCH_DIR, values.cfg.historyDays, std::time(nullptr));
    purgeLegacyPlaintext();

    // 5: the session controller and the interface, which refer to each other.
    UIController ui(nullptr);
    auto dictation =
        Dictation::create(ui, DictationSettings::fromProcess(), DictationServices::fromProcess());
    ui.setSession(dictation.get());

    int status = 0;
    if (demo) {
        // 6: a demo runs in place of the rest.
        status = (*demo)(ui);
    } else {
        // 7: the microphone answers when a sound server does.
        globalQueue(QoS::Utility).async([] {
            log(audioBackend()->available() ? "✓ Microphone granted" : kMicNotGranted);
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
            log("⚠️ caption model missing at " + values.cfg.captionModel +
                " — live captions disabled (download it or set CAPTION_MODEL in " +
                values.CONFIG_PATH + ")");
        }
        // 12: the key monitor, now or once input may be watched.
        arming->armWhenTrusted();

        // 13: test signals.
        std::unique_ptr<QSocketNotifier> signalWatcher;
        if (installTestSignals()) {
            signalWatcher = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
            QObject::connect(signalWatcher.get(), &QSocketNotifier::activated, [&dictation] {
                char byte = 0;
                while (::read(signalPipe[0], &byte, 1) == 1) {
                    if (byte == SIGUSR1) {
                        log("⌨︎ simulated tap (SIGUSR1)");
                        dictation->toggle();
                    } else if (byte == SIGUSR2) {
                        log("⌨︎ simulated insert (SIGUSR2)");
                        dictation->insert("VAK_TEST_INSERT_OK");
                    }
                }
            });
        } else {
            log("⚠️ test signals unavailable — SIGUSR1/SIGUSR2 are ignored");
        }

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
        log(bannerLine(values.cfg, facts));
        // 17: for good, until Quit.
        status = QApplication::exec();
    }

    installMainQueue(nullptr);
    return status;
}

} // namespace vak
