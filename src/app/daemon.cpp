#include "app/daemon.h"

#include "app/control_socket.h"
#include "app/daemon_startup.h"
#include "app/local_servers.h"
#include "audio/input_devices.h"
#include "base/files.h"
#include "base/global_queues.h"
#include "base/log.h"
#include "base/main_queue.h"
#include "foundation/process_values.h"
#include "history/legacy_purge.h"
#include "history/retention.h"
#include "platform/audio_backend.h"
#include "platform/desktop_backend.h"
#include "platform/frontmost_app.h"
#include "platform/platform.h"
#include "producer/producer_link.h"
#include "session/dictation.h"
#include "session/key_recognizer.h"
#include "session/monitor_arming.h"
#include "session/recall.h"
#include "text/learned_words.h"
#include "text/snippets.h"
#include "transcribe/chunk_engine.h"
#include "transcribe/decode_cost.h"
#include "transcribe/decode_router.h"
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
    "Microphone NOT granted — no sound server answers (start PipeWire or PulseAudio for this "
    "session).";
#endif

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// A desktop session to show the interface in. The interface runs on X11 (under Wayland through
// XWayland, where the window manager keeps the pill above other windows and out of the focus)
// and natively on Wayland only without XWayland.
bool haveDisplay(const DesktopChoice& desktop) {
    const bool x11 = isSet("DISPLAY");
    if (desktop.backend == DesktopBackend::X11 && !x11) {
        log(LogLevel::serious,
            "no X11 display (DISPLAY is not set) — vak-dictate needs an X11 or XWayland "
            "session");
        return false;
    }
    if (!x11 && !isSet("WAYLAND_DISPLAY")) {
        log(LogLevel::serious, "no display (neither WAYLAND_DISPLAY nor DISPLAY is set) — start "
                               "vak-dictate inside the desktop session");
        return false;
    }
    if (!isSet("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", x11 ? "xcb" : "wayland", 1);
    log(LogLevel::info, "interface: Qt's " + std::string(std::getenv("QT_QPA_PLATFORM")) +
                            " platform — " +
                            (x11 ? "DISPLAY=" + std::string(std::getenv("DISPLAY"))
                                 : std::string("no XWayland (DISPLAY unset)")));
    return true;
}

// The microphone answers when a sound server does; asked off the main thread.
void reportMicrophone() {
    globalQueue(QoS::Utility).async([] {
        if (audioBackend()->available()) {
            log(LogLevel::ok, "Microphone granted");
        } else {
            log(LogLevel::warning, kMicNotGranted);
        }
    });
}

void reportCaptionModel(const ProcessValues& values, const EngineCheck& engines) {
    if (values.cfg.liveCaptions && !engines.captionModelFound) {
        log(LogLevel::warning,
            "caption model missing at " + values.cfg.captionModel +
                " — live captions disabled (download it or set CAPTION_MODEL in " +
                values.CONFIG_PATH + ")");
    }
}

// SIGUSR1 toggles a dictation, SIGUSR2 pastes the check text: a setup can be tried without a
// microphone or a key press.
void watchTestSignals(DesktopApp& desktop, Dictation& dictation) {
    const bool watching = desktop.watchTestSignals([&dictation](int signo) {
        if (signo == SIGUSR1) {
            log(LogLevel::testSignal, "simulated tap (SIGUSR1)");
            dictation.toggle();
        } else if (signo == SIGUSR2) {
            // Which application the paste is for tells whether the desktop's window is seen.
            const std::string app = frontmostApp()->identifier();
            log(LogLevel::testSignal, "simulated insert (SIGUSR2) — front application: " +
                                          (app.empty() ? std::string("unknown") : app));
            dictation.insert("VAK_TEST_INSERT_OK", [](const std::string& caveat) {
                if (!caveat.empty()) log(LogLevel::warning, caveat);
            });
        }
    });
    if (!watching) log(LogLevel::warning, "test signals unavailable — SIGUSR1/SIGUSR2 are ignored");
}

// The running daemon's commands from outside (a desktop's keyboard shortcut calling
// `vak-dictate --toggle`): where there is no tray, the only way to reach the menu's actions.
std::unique_ptr<ControlSocket> listenForControl(DesktopApp& desktop, UIController& ui,
                                                Dictation& dictation) {
    std::string error;
    auto socket = ControlSocket::listen(
        processValues().CONTROL_SOCKET, desktop.mainQueue(),
        [&ui, &dictation](ControlCommand command) {
            log(LogLevel::info, "control: " + std::string(controlWord(command)));
            switch (command) {
            case ControlCommand::Toggle:
                dictation.toggle();
                return;
            case ControlCommand::Cancel:
                dictation.cancelRecording();
                return;
            case ControlCommand::Settings:
                ui.openSettings();
                return;
            case ControlCommand::Quit:
                ui.quit();
                return;
            }
        },
        &error);
    if (!socket) log(LogLevel::warning, "no command-line control — " + error);
    return socket;
}

BannerFacts bannerFacts(const ProcessValues& values, const EngineCheck& engines) {
    BannerFacts facts;
    facts.engines = engines;
    for (const auto& device : resolveInputCandidates(values.cfg.inputDevice))
        facts.micPlan.push_back(device.name);
    facts.learnedCount = loadLearnedWords().size();
    facts.snippetCount = loadSnippets().size();
    return facts;
}

// Everything after the interface exists, up to the event loop: keys, signals, housekeeping,
// the banner. Returns the loop's exit status.
int runUntilQuit(DesktopApp& desktop, UIController& ui, Dictation& dictation,
                 const EngineCheck& engines, LocalServers& servers,
                 const std::vector<std::string>& interrupted) {
    const auto& values = processValues();
    servers.start(values);
    reportMicrophone();

    const auto triggers = TriggerSettings::fromConfig(values.cfg, producerToolsInstalled());
    KeyRecognizer recognizer(dictation, triggers, {}, &desktop.mainQueue());
    auto arming = MonitorArming::create(
        triggers,
        [&recognizer, &ui](const InputEvent& event) {
            // Keys that went to our own menu or window (Escape closing the mode menu, the key
            // chosen in the settings window) are not global keys.
            if (!ui.ownsKeyEvent(event)) recognizer.handle(event);
        },
        desktop.mainQueue());
    // Until the trigger key works, the pill says why and what to do.
    arming->setOnDisarmed([&ui](const std::string& help) { ui.setTriggerNotice(help); });
    arming->ensureAccessibility();

    ui.setup();
    reportCaptionModel(values, engines);
    // The key monitor, now or once input may be watched.
    arming->armWhenTrusted();
    watchTestSignals(desktop, dictation);
    const auto control = listenForControl(desktop, ui, dictation);

    retentionSweep();
    log(LogLevel::banner, bannerLine(values.cfg, bannerFacts(values, engines)));
    for (const std::string& text : interrupted)
        ui.showNotice(text);
    const int status = desktop.run();
    // However it ends, a dictation in progress is kept for a retry.
    dictation.keepInterrupted();
    return status;
}

} // namespace

int runDaemon(const std::vector<std::string>& args) {
    const auto& values = processValues();
    const std::optional<DemoRunner> demo = args.size() >= 2 ? demoFor(args[1]) : std::nullopt;
    // Before anything else: a second daemon must not touch what the first one owns.
    const FileLock lock = lockFile(values.DAEMON_LOCK);
    if (lock.outcome == LockOutcome::HeldElsewhere && !demo) {
        log(LogLevel::abandoned, "vak-dictate already runs for this user — reach it with "
                                 "vak-dictate --toggle, --settings or --quit");
        return ALREADY_RUNNING_STATUS;
    }
    if (lock.outcome == LockOutcome::Failed)
        log(LogLevel::warning, "no single-daemon lock — " + lock.problem);
    // A demo beside a running daemon leaves its files (recordings, the log) alone.
    const bool ownsFiles = lock.outcome != LockOutcome::HeldElsewhere;
    // The one-time purge of plain-text transcripts runs before this start logs anything of its
    // own: its "✓" lines look like the transcripts it removes.
    if (ownsFiles) purgeLegacyPlaintext();

    if (!haveDisplay(chooseDesktopBackend(DesktopSession::current(values.cfg)))) return 1;
    startDesktopBackends();

    DesktopApp desktop(args);
    const EngineCheck engines = EngineCheck::fromProcess(values);
    logEngineCheck(engines, values);
    // What earlier runs left behind: a recording cut off mid-dictation is kept for a retry (the
    // user is told once the interface is up), the rest goes.
    std::vector<std::string> interrupted;
    if (ownsFiles) {
        interrupted = keepInterruptedRecordings(values.scratch, values.cfg.historyDays);
        values.scratch.sweep(values.cfg.historyDays, std::time(nullptr));
    }

    // Stopped when the daemon ends, after the event loop and the interface.
    LocalServers servers;
    // The model the settings window picks is used from the next decode on.
    const auto decodeModel = std::make_shared<DecodeModelChoice>(values.MODEL);
    DictationServices services = DictationServices::fromProcess(desktop.mainQueue());
    UiServices uiServices = UiServices::fromProcess();
    uiServices.useDecodeModel = [&servers, decodeModel,
                                 chunks = services.chunks](const std::string& name) {
        const std::string path = modelPath(processValues().HOME, name);
        decodeModel->set(path);
        servers.useDecodeModel(path);
        chunks->useCostShape(decodeCostShape(engineOfModel(path)));
        log(LogLevel::ok, "decode model now " + path + ", from the next decode");
    };

    // The session controller and the interface, which refer to each other.
    UIController ui(nullptr, desktop.mainQueue(), values.cfg, std::move(uiServices));
    services.decode = decoderWith(decodeModel);
    services.chunks->setTranscribe(decoderWith(decodeModel));
    auto dictation = Dictation::create(ui, DictationSettings::fromProcess(), std::move(services));
    ui.setSession(dictation.get());

    // A demo runs in place of the rest.
    if (demo) return (*demo)(ui);
    return runUntilQuit(desktop, ui, *dictation, engines, servers, interrupted);
}

} // namespace vak
