#include "app/daemon.h"

#include "app/control_socket.h"
#include "app/daemon_startup.h"
#include "app/engine_choice.h"
#include "app/local_servers.h"
#include "audio/input_devices.h"
#include "base/environment.h"
#include "base/files.h"
#include "base/global_queues.h"
#include "base/log.h"
#include "base/main_queue.h"
#include "foundation/process_values.h"
#include "history/legacy_purge.h"
#include "history/retention.h"
#include "platform/audio_backend.h"
#include "platform/desktop_shortcut.h"
#include "platform/frontmost_app.h"
#include "platform/host.h"
#include "platform/platform.h"
#include "platform/platform_services.h"
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
#include "transcribe/model_install.h"
#include "transcribe/speech_tools.h"
#include "ui/demos.h"
#include "ui/desktop_app.h"
#include "ui/ui_controller.h"
#include "ui/ui_texts.h"

#include <csignal>
#include <cstdlib>
#include <functional>
#include <mutex>

namespace vak {

namespace {

// The microphone answers when a sound server does; asked off the main thread.
void reportMicrophone(std::shared_ptr<AudioBackend> audio) {
    globalQueue(QoS::Utility).async([audio = std::move(audio)] {
        if (audio->available()) {
            log(LogLevel::ok, "Microphone granted");
        } else {
            log(LogLevel::warning,
                "Microphone NOT granted — " + std::string(host().microphoneHelp) + ".");
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

// Times one decode with the installed model `name` when its speed is not known yet, off the main
// thread; dictations go on meanwhile. `serverUrl`: the daemon's server that holds it, if any.
void measureWhenUnknown(const std::string& name, const std::string& serverUrl) {
    const auto& values = processValues();
    const std::string model = modelPath(values.HOME, name);
    const bool parakeet = engineOfModel(model) == SpeechEngine::Parakeet;
    // Without a server of ours, one is started for the timing: not when there is no such
    // program (a whisper-cli only install), which is nothing to warn about at every start.
    if (!isRegularFile(model) || loadModelSpeeds(values.MODEL_SPEEDS_PATH).contains(name) ||
        (serverUrl.empty() &&
         !isExecutableFile(parakeet ? values.PARAKEET_SERVER : values.WHISPER_SERVER)))
        return;
    globalQueue(QoS::Utility).async([name, serverUrl] {
        log(LogLevel::info, "timing one decode of a short clip with " + name +
                                " on this machine, once (dictations go on meanwhile)");
        std::string problem;
        if (const auto speed = measureModelSpeed(processValues(), name, serverUrl, &problem)) {
            log(LogLevel::ok, speedLine(name, *speed));
        } else {
            log(LogLevel::warning, "could not time a decode with " + name + " — " + problem);
        }
    });
}

// Downloads the decode model `name` in the background (`what` says how) and switches the
// daemon's decodes to it once it is in place.
void fetchAndUse(MainQueue& main, ModelInstaller& installer,
                 const std::function<void(const std::string&)>& useModel, const std::string& name,
                 const std::string& what) {
    const auto model = findModel(name);
    log(LogLevel::info, what + " " + name + " (" + std::to_string(model ? model->mebibytes : 0) +
                            " MiB) — until it is in place, dictations use the engines there are");
    installer.start(name, {}, [&main, useModel, name](const DownloadResult& result) {
        const std::string outcome = downloadOutcomeText(name, result);
        main.post(
            [useModel, name, outcome, done = result.outcome == DownloadResult::Outcome::Done] {
                if (!done) {
                    log(LogLevel::warning,
                        "model download at start: " + outcome + " (the next start resumes it)");
                    return;
                }
                log(LogLevel::ok, outcome);
                useModel(name);
            });
    });
}

// The main queue for work that may outlive it: a background task posts through the gate, which
// the daemon closes once its event loop has ended (the queue goes with it).
struct MainGate {
    explicit MainGate(MainQueue& queue) : main(&queue) {}
    void post(Task task) {
        std::lock_guard lock(mutex);
        if (main != nullptr) main->post(std::move(task));
    }
    void close() {
        std::lock_guard lock(mutex);
        main = nullptr;
    }
    std::mutex mutex;
    MainQueue* main;
};

// At a first start (the configuration leaves the decode model open), the model for this machine:
// chosen off the main thread (the GPU probe runs child processes), downloaded by `installer`
// when it is not there, then used by `useModel` (which times it). At a later start a download of
// the decode model that broke off goes on, and a model whose speed is not known is timed once.
// The daemon is up all the while; dictations use what there is.
std::shared_ptr<MainGate> settleDecodeModel(MainQueue& main, ModelInstaller& installer,
                                            std::function<void(const std::string&)> useModel,
                                            const std::string& ownServerUrl) {
    const auto& values = processValues();
    auto gate = std::make_shared<MainGate>(main);
    if (!decodeModelLeftToChoose(values.cfg.decodeModel, values.MODEL)) {
        if (!isRegularFile(values.MODEL) && pathExists(values.MODEL + ".part") &&
            findModel(values.cfg.decodeModel)) {
            fetchAndUse(main, installer, useModel, values.cfg.decodeModel,
                        "resuming the download of");
        } else {
            measureWhenUnknown(values.cfg.decodeModel, ownServerUrl);
        }
        return gate;
    }
    log(LogLevel::info, "no decode model installed: choosing one for this machine (probing for "
                        "a GPU)…");
    globalQueue(QoS::Utility).async([gate, &main, &installer, useModel] {
        std::string problem;
        const auto choice = chooseModelForMachine(processValues(), &problem);
        if (!choice) {
            if (!problem.empty()) log(LogLevel::warning, problem);
            return;
        }
        log(LogLevel::info, "DECODE_MODEL=" + choice->model + " chosen for this machine: " +
                                choice->reason + " (GPU probe: " + choice->gpuNotes +
                                "; written into the configuration, where a model you pick "
                                "stays)");
        // The probe may outlast the daemon (a quit within seconds of the start).
        gate->post([&main, &installer, useModel, name = choice->model] {
            if (isRegularFile(modelPath(processValues().HOME, name))) {
                useModel(name);
            } else {
                fetchAndUse(main, installer, useModel, name, "downloading");
            }
        });
    });
    return gate;
}

BannerFacts bannerFacts(const ProcessValues& values, const EngineCheck& engines,
                        AudioBackend& audio) {
    BannerFacts facts;
    facts.engines = engines;
    for (const auto& device : resolveInputCandidates(audio, values.cfg.inputDevice))
        facts.micPlan.push_back(device.name);
    facts.learnedCount = loadLearnedWords(values.LEARNED_PATH).size();
    facts.snippetCount = loadSnippets(values.SNIPPETS_PATH).size();
    return facts;
}

// Everything after the interface exists, up to the event loop: keys, signals, housekeeping,
// the banner. Returns the loop's exit status.
int runUntilQuit(DesktopApp& desktop, const PlatformServices& platform, UIController& ui,
                 Dictation& dictation, const EngineCheck& engines, LocalServers& servers,
                 ModelInstaller& installer, const std::function<void(const std::string&)>& useModel,
                 const std::vector<std::string>& interrupted) {
    const auto& values = processValues();
    servers.start(values);
    reportMicrophone(platform.audio);
    const auto gate =
        settleDecodeModel(desktop.mainQueue(), installer, useModel,
                          servers.holdsDecodeModel() ? localServerUrl() : std::string());

    const auto triggers =
        TriggerSettings::fromConfig(values.cfg, producerToolsInstalled(values.HOME));
    const auto& monitor = platform.keyMonitor;
    KeyRecognizer recognizer(dictation, triggers, {}, &desktop.mainQueue(), monitor);
    auto arming = MonitorArming::create(
        triggers,
        [&recognizer, &ui](const InputEvent& event) {
            // Keys that went to our own menu or window (Escape closing the mode menu, the key
            // chosen in the settings window) are not global keys.
            if (!ui.ownsKeyEvent(event)) recognizer.handle(event);
        },
        desktop.mainQueue(), monitor);
    // Until the trigger key works, the pill says why and what to do; where the desktop takes a
    // shortcut from us, adding one comes first (asked once, at the disarm: a few child processes
    // with a time limit each).
    arming->setOnDisarmed([&ui, &values, self = arming.get()](const std::string& help) {
        ui.setTriggerNotice(help);
        if (self->armed()) return;
        const std::string offeredBy = desktopShortcuts()->desktop();
        if (offeredBy.empty()) return;
        const auto chord = parseShortcutChord(values.cfg.shortcutChord);
        log(LogLevel::info, "the trigger key can be a " + offeredBy +
                                " shortcut instead: Settings ▸ " +
                                ui_text::shortcutButton(values.cfg.shortcutChord) +
                                ", or vak-dictate --add-shortcut (" +
                                (chord ? chordText(*chord) : values.cfg.shortcutChord) +
                                " runs vak-dictate --toggle)");
        ui.offerShortcut(offeredBy);
    });
    arming->ensureAccessibility();

    ui.setup();
    reportCaptionModel(values, engines);
    // The key monitor, now or once input may be watched.
    arming->armWhenTrusted();
    watchTestSignals(desktop, dictation);
    const auto control = listenForControl(desktop, ui, dictation);

    retentionSweep(values);
    log(LogLevel::banner, bannerLine(values.cfg, bannerFacts(values, engines, *platform.audio)));
    for (const std::string& text : interrupted)
        ui.showNotice(text);
    const int status = desktop.run();
    gate->close();
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
    if (ownsFiles) purgeLegacyPlaintext(LegacyPurgeFiles::from(values));

    if (!prepareInterfaceDisplay()) return 1;
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
    // The platform services as the desktop's back ends left them, for everything below.
    const PlatformServices platform = PlatformServices::installed();
    DictationServices services =
        DictationServices::from(desktop.mainQueue(), values, platform, processDecodeMemory());
    UiServices uiServices = UiServices::from(values, platform, processDecodeMemory());
    const std::function<void(const std::string&)> useModel =
        [&servers, decodeModel, chunks = services.chunks](const std::string& name) {
            const std::string path = modelPath(processValues().HOME, name);
            decodeModel->set(path);
            servers.useDecodeModel(path);
            chunks->useCostShape(decodeCostShape(engineOfModel(path)));
            log(LogLevel::ok, "decode model now " + path + ", from the next decode");
            measureWhenUnknown(name, servers.holdsDecodeModel() ? localServerUrl() : std::string());
        };
    uiServices.useDecodeModel = useModel;
    uiServices.decodeModelInUse = [decodeModel] {
        return modelNameOfFile(decodeModel->path()).value_or(processValues().cfg.decodeModel);
    };
    // The model chosen for this machine at a first start; stopped before the servers.
    ModelInstaller installer(values.HOME);

    // The session controller and the interface, which refer to each other.
    UIController ui(nullptr, desktop.mainQueue(), values.cfg, std::move(uiServices));
    const auto decodeSettings = [&values] {
        return DecodeSettings::from(values, processDecodeMemory());
    };
    services.decode = decoderWith(decodeModel, decodeSettings);
    services.chunks->setTranscribe(decoderWith(decodeModel, decodeSettings));
    auto dictation = Dictation::create(ui, DictationSettings::from(values), std::move(services));
    ui.setSession(dictation.get());

    // A demo runs in place of the rest.
    if (demo) return (*demo)(ui);
    return runUntilQuit(desktop, platform, ui, *dictation, engines, servers, installer, useModel,
                        interrupted);
}

} // namespace vak
