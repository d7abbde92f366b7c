#include "session/dictation.h"

#include "audio/wav.h"
#include "base/files.h"
#include "base/global_queues.h"
#include "base/log.h"
#include "base/main_queue.h"
#include "base/numbers.h"
#include "base/serial_queue.h"
#include "base/unicode.h"
#include "foundation/process_values.h"
#include "foundation/trigger_keys.h"
#include "history/history.h"
#include "platform/audio_backend.h"
#include "platform/host.h"
#include "platform/key_names.h"
#include "platform/platform_services.h"
#include "platform/secret_store.h"
#include "platform/sound_player.h"
#include "producer/producer_link.h"
#include "rewrite/command_edit.h"
#include "session/mode_memory.h"
#include "session/recall.h"
#include "session/selection_copy.h"
#include "text/formatting.h"
#include "text/local_command.h"
#include "transcribe/caption_engine.h"
#include "transcribe/chunk_engine.h"
#include "transcribe/decode_router.h"

#include <utility>

namespace vak {

namespace {

// Where the user fixes microphone access and picks a working input. On Linux "access" is a
// sound server answering for this session.
std::string micNotAuthorized(std::uint16_t hotkey) {
    return "mic not authorized — " + std::string(host().microphoneHelp) + ", then tap " +
           triggerKeyShortName(hotkey) + " again";
}

// A recording's decoder output base: its path without ".wav".
std::string textBaseOf(const std::string& wav) {
    return wav.ends_with(".wav") ? wav.substr(0, wav.size() - 4) : wav;
}

// What the user is told when a text could not be typed into a window; empty when it was.
std::string caveatFor(const InsertResult& result) {
    switch (result.outcome) {
    case InsertOutcome::Pasted:
        return {};
    case InsertOutcome::NothingFocused:
        return "Nothing had the focus — your text is on the clipboard";
    case InsertOutcome::KeysFailed:
        return "The paste key could not be typed — your text is on the clipboard";
    case InsertOutcome::Unreachable:
        return "The paste cannot reach this window — your text is on the clipboard: press " +
               keyChordName(result.pasteKey);
    case InsertOutcome::Pending: // never handed on: the outcome comes when the key is sent
        return {};
    }
    return {};
}

} // namespace

DictationSettings DictationSettings::from(const Config& config, const ScratchFiles& scratch) {
    DictationSettings settings;
    settings.hotkey = config.hotkey;
    settings.inputDevice = config.inputDevice;
    settings.maxRecordSeconds = config.maxRecordSeconds;
    settings.polish = config.polish;
    settings.polishApps = config.polishApps;
    settings.proApps = config.proApps;
    settings.keepLastClip = config.keepLastClip;
    settings.scratch = scratch;
    settings.route = RouteSettings::fromConfig(config);
    return settings;
}

DictationSettings DictationSettings::from(const ProcessValues& values) {
    DictationSettings settings = from(values.cfg, values.scratch);
    settings.route.modeRulesPath = values.file(UserFile::ModeRules);
    return settings;
}

ProducerTools ProducerTools::from(const ProcessValues& values) {
    ProducerTools tools;
    const std::string ctl = expandHome(PRODUCER_CTL_TOOL, values.HOME);
    const std::string inbox = values.file(UserFile::ProducerInbox);
    tools.sessionStarted = [ctl, inbox, home = values.HOME] {
        runTool("/usr/bin/pkill", {"-x", "say"});
        producerInboxEvent(inbox, "session-start", unixNow());
        runTool(ctl, {"ears-on"});
        producerWake(home);
    };
    tools.sessionEnded = [ctl, inbox] {
        runTool(ctl, {"ears-off"});
        producerInboxEvent(inbox, "session-end", unixNow());
    };
    return tools;
}

DictationServices DictationServices::from(MainQueue& main, const ProcessValues& values,
                                          const PlatformServices& platform,
                                          const DecodeMemory& decodes) {
    DictationServices services;
    services.main = &main;
    services.background = &globalQueue(QoS::UserInitiated);
    services.capturer = AudioCapturer::create(main, platform.audio);
    services.captions = CaptionEngine::create(CaptionSettings::from(values));
    services.chunks = ChunkEngine::create(ChunkSettings::from(values));
    services.desktop = {platform.pasteboard, platform.keys, platform.frontmost,
                        platform.primarySelection};
    services.sounds = platform.sounds;
    services.producer = ProducerTools::from(values);
    services.microphoneAvailable = [audio = platform.audio] { return audio->available(); };
    services.decode = [&values, decodes](const DecodeRequest& request) {
        return runWhisper(request, DecodeSettings::from(values, decodes));
    };
    // The chunks decode as the whole recordings do, unless the entry says otherwise.
    services.chunks->setTranscribe(services.decode);
    services.format = [&values](std::string_view raw) {
        return formatAndLearn(raw, TranscriptSources::from(values));
    };
    services.commandEdit = [&values](std::string_view selection, std::string_view instruction) {
        const std::string rules = values.file(UserFile::ModeRules);
        const auto local = [&rules](std::string_view text, std::string_view spoken) {
            return localCommandEdit(text, spoken, rules);
        };
        return vak::commandEdit(selection, instruction, local, RewriteSettings::from(values));
    };
    services.learnedMode = [path = values.file(UserFile::ModeUsage)](std::string_view app) {
        return learnedModeFor(path, app);
    };
    services.logTranscript = [&values, store = platform.secrets](std::string_view text,
                                                                 std::string_view tag,
                                                                 std::string_view caveat) {
        vak::logTranscript(text, tag, {values.cfg.privacyMode, values.HISTORY_PATH, store.get()},
                           caveat);
    };
    services.history = std::make_shared<SerialQueue>("vak.history");
    return services;
}

std::shared_ptr<Dictation> Dictation::create(SessionUi& ui, DictationSettings settings,
                                             DictationServices services) {
    std::shared_ptr<Dictation> dictation(
        new Dictation(ui, std::move(settings), std::move(services)));
    MainQueue* main = dictation->services_.main;
    // Captions come from the caption engine's queue; the pill wants them on the main queue.
    std::weak_ptr<Dictation> weak = dictation;
    dictation->services_.captions->setDisplay([weak, main](const std::string& caption) {
        main->post([weak, caption] {
            if (auto self = weak.lock()) {
                if (self->recording_ && !self->writeTrouble_) self->ui_.setCaption(caption);
            }
        });
    });
    dictation->services_.capturer->setOnLevel([weak](float level) {
        if (auto self = weak.lock()) self->ui_.setLevel(level);
    });
    return dictation;
}

Dictation::Dictation(SessionUi& ui, DictationSettings settings, DictationServices services)
    : ui_(ui), settings_(std::move(settings)), services_(std::move(services)),
      inserter_(TextInserter::create(*services_.main, services_.desktop, {settings_.polishApps})) {}

Dictation::~Dictation() {
    autoStop_.cancel();
}

void Dictation::play(Sound sound) const {
    if (services_.sounds) services_.sounds->play(sound);
}

void Dictation::toggle() {
    if (recording_) {
        stopAndTranscribe();
    } else {
        startRecording();
        startedWithKey_ = false;
    }
}

void Dictation::finishInstantly() {
    if (!recording_) return;
    instantFinish_ = true;
    stopAndTranscribe();
}

void Dictation::insert(const std::string& text,
                       std::function<void(const std::string& caveat)> then) {
    std::weak_ptr<Dictation> weak = weak_from_this();
    inserter_->insert(text, [weak, then = std::move(then)](const InsertResult& result) {
        const auto self = weak.lock();
        if (!self) return;
        const std::string caveat = caveatFor(result);
        if (!caveat.empty()) self->ui_.showNotice(caveat);
        if (then) then(caveat);
    });
}

void Dictation::record(const std::string& text, const std::string& tag, const std::string& caveat) {
    services_.history->async(
        [log = services_.logTranscript, text, tag, caveat] { log(text, tag, caveat); });
}

void Dictation::startRecording() {
    if (recording_) return;
    // The key recognisers start here; toggle() (the signal, --toggle, the tray) says otherwise.
    startedWithKey_ = true;
    if (!services_.microphoneAvailable()) {
        log(LogLevel::warning, micNotAuthorized(settings_.hotkey));
        play(Sound::Failure);
        // Asking again is all there is to requesting access here; the tap is not remembered.
        auto available = services_.microphoneAvailable;
        services_.background->async([available, key = triggerKeyShortName(settings_.hotkey)] {
            if (available()) {
                log(LogLevel::ok, "Microphone granted — tap " + key + " to dictate");
            } else {
                log(LogLevel::warning, "Microphone DENIED — " + std::string(host().microphoneHelp));
            }
        });
        return;
    }

    ++sessionN_;
    const int n = sessionN_;
    currentWav_ = settings_.scratch.recording(n);
    removeFile(currentWav_);

    std::weak_ptr<Dictation> weak = weak_from_this();
    const bool started = services_.capturer->start(
        currentWav_, settings_.inputDevice,
        [](const std::string& device) {
            log(LogLevel::warning, "first input produced no audio — switched to " + device);
        },
        [weak] {
            log(LogLevel::serious, std::string("no audio from any microphone — open ") +
                                       std::string(host().soundInput) +
                                       ", pick a working mic, and confirm vak-dictate has "
                                       "Microphone access");
            if (auto self = weak.lock()) {
                self->play(Sound::Failure);
                self->ui_.setCaption("⚠️ no mic audio — check Sound ▸ Input");
            }
        },
        settings_.scratch.overflowRecording(n),
        [weak, n](const std::string& cause) {
            auto self = weak.lock();
            if (!self || !self->recording_ || self->sessionN_ != n) return;
            self->writeTrouble_ = true;
            self->ui_.setCaption("⚠️ recording can't be saved (" + cause +
                                 ") — keeping it in memory");
        });
    if (!started) {
        removeFile(currentWav_);
        play(Sound::Failure);
        ui_.setCaption("⚠️ couldn't start mic — check Sound ▸ Input");
        log(LogLevel::serious, std::string(host().captureName) +
                                   " couldn't start on any input — check " +
                                   std::string(host().soundInput));
        return;
    }

    recording_ = true;
    writeTrouble_ = false;
    log(LogLevel::recording,
        "recording… (session " + std::to_string(n) + ") · mic=" + services_.capturer->deviceName());
    play(Sound::Start);
    ui_.recordingStarted();
    services_.captions->start(currentWav_);
    currentTrail_ = std::make_shared<DecodeTrail>();
    services_.chunks->start(currentWav_, n, currentTrail_);
    autoStop_.cancel();
    const double limit = settings_.maxRecordSeconds;
    autoStop_ = services_.main->after(limit, [weak, limit] {
        auto self = weak.lock();
        if (!self || !self->recording_) return;
        log(LogLevel::timer, "auto-stop after " + std::to_string(static_cast<long long>(limit)) +
                                 "s — mic was left on");
        self->play(Sound::AutoStop);
        self->stopAndTranscribe();
    });
}

void Dictation::stopAndTranscribe() {
    if (!recording_) return;
    recording_ = false;
    const bool wasInstant = instantFinish_;
    instantFinish_ = false;
    autoStop_.cancel();

    services_.captions->stop();
    const AudioCapturer::Result result = services_.capturer->stop();
    ui_.recordingStopped();

    const int n = sessionN_;
    // Where the whole recording is: its file, or the overflow folder after a failed write.
    const std::string wav = result.path.empty() ? currentWav_ : result.path;
    const std::string session = std::to_string(n);
    log(LogLevel::stopped,
        "stopped, transcribing… (session " + session + ") · " +
            fixedDecimals(static_cast<double>(result.bytes) / kBytesPerSecond, 1) +
            "s captured, peak " + std::to_string(result.peak));
    play(Sound::Stop);
    if (result.frames == 0) {
        log(LogLevel::warning,
            "session " + session +
                " captured 0 audio frames — mic/permission problem, not your speech");
    } else if (result.peak < 80) {
        log(LogLevel::warning, "session " + session + " input was near-silent (peak " +
                                   std::to_string(result.peak) + ") — were you speaking into " +
                                   result.device + "?");
    }
    ui_.setBusy(+1);

    RouteRequest request;
    request.session = n;
    request.bundle =
        services_.desktop.frontmost ? toLower(services_.desktop.frontmost->identifier()) : "";
    if (settings_.polish) {
        request.isPolishApp = bundleMatchesList(request.bundle, settings_.polishApps);
        request.isProApp = bundleMatchesList(request.bundle, settings_.proApps);
    }
    request.selectedMode = ui_.selectedMode();
    request.modePicked = ui_.modePickedThisRecording();
    request.commandSelection = std::exchange(commandSelection_, std::nullopt);
    request.wasInstant = wasInstant;
    // After a failed write the chunk engine read only what reached the file.
    transcribeAndRoute(std::move(request), wav, result.writeProblem.empty());
}

void Dictation::transcribeAndRoute(RouteRequest request, const std::string& wav, bool chunked) {
    std::weak_ptr<Dictation> weak = weak_from_this();
    const int n = request.session;
    MainQueue* main = services_.main;
    const auto decodeFailed = std::make_shared<std::atomic<bool>>(false);
    const auto trail = currentTrail_ ? currentTrail_ : std::make_shared<DecodeTrail>();

    RouteServices route;
    route.finish = [weak, main, n, wav, decodeFailed, trail](std::string text, std::string label) {
        main->post([weak, n, wav, decodeFailed, trail, text = std::move(text),
                    label = std::move(label)]() mutable {
            if (auto self = weak.lock()) {
                self->finish(n, wav, std::move(text), std::move(label), decodeFailed->load(),
                             *trail);
            }
        });
    };
    route.presentChoice = [weak](const std::string& transcript, std::function<void()> summarize,
                                 std::function<void()> professional, std::function<void()> keep) {
        if (auto self = weak.lock()) {
            self->ui_.presentChoice(transcript, std::move(summarize), std::move(professional),
                                    std::move(keep));
        } else if (keep) {
            keep();
        }
    };
    route.learnedMode = services_.learnedMode;
    route.commandEdit = services_.commandEdit;
    route.logTranscript = [history = services_.history, log = services_.logTranscript](
                              std::string_view text, std::string_view tag) {
        history->async(
            [log, text = std::string(text), tag = std::string(tag)] { log(text, tag, {}); });
    };
    route.background = services_.background;
    route.main = main;

    const RouteSettings settings = settings_.route;
    auto format = services_.format;
    auto decode = services_.decode;
    auto background = services_.background;
    // The decoder's output beside the recording, wherever that is.
    const std::string base = textBaseOf(wav);
    auto decodeWhole = [settings, route, format, decode, background, wav, base, decodeFailed,
                        trail](RouteRequest whole) {
        background->async([request = std::move(whole), settings, route, format, decode, wav, base,
                           decodeFailed, trail]() mutable {
            const auto raw = decode({wav, base, DecodeRoute::Auto, trail});
            if (!raw) decodeFailed->store(true);
            request.text = raw ? format(*raw) : std::string();
            routeTranscript(std::move(request), settings, route);
        });
    };
    if (!chunked) {
        services_.chunks->cancel();
        decodeWhole(std::move(request));
        return;
    }
    services_.chunks->finish([request = std::move(request), settings, route, format,
                              decodeWhole](std::optional<std::string> text) mutable {
        if (text && !text->empty()) {
            request.text = format(*text);
            routeTranscript(std::move(request), settings, route);
            return;
        }
        decodeWhole(std::move(request));
    });
}

void Dictation::finish(int n, const std::string& wav, std::string text, std::string label,
                       bool decodeFailed, const DecodeTrail& trail) {
    if (!text.empty()) {
        // Any of its words through the cloud counts: the note must not promise otherwise.
        const TranscribedOn where =
            trail.cloud.load() ? TranscribedOn::CloudEngine : TranscribedOn::ThisComputer;
        // What the log, the sound and the note say waits for the paste key's fate.
        insert(text,
               [this, text, label, where, withKey = startedWithKey_](const std::string& caveat) {
                   record(text, label, caveat);
                   if (caveat.empty()) {
                       play(Sound::Pasted);
                       ui_.explainAfterFirstDictation(where, withKey);
                   } else {
                       play(Sound::Failure);
                   }
               });
    } else {
        log(LogLevel::nothing, "empty transcription (session " + std::to_string(n) + ")");
        play(Sound::Failure);
    }
    ui_.setBusy(-1);

    if (text.empty() && decodeFailed) {
        // Every engine failed: the words are still in the recording, so it is kept for a retry.
        if (const auto kept = settings_.scratch.keepFailedRecording(wav, n)) {
            log(LogLevel::serious, "no engine could transcribe session " + std::to_string(n) +
                                       " — recording kept at " + *kept +
                                       " · retry: status menu ▸ Failed recordings, or "
                                       "vak-dictate --retry-failed");
        }
    } else if (settings_.keepLastClip && lastSavedN_ < n) {
        keepLastClip(n, wav);
    }
    removeFile(wav);
    removeFile(textBaseOf(wav) + ".txt");
}

void Dictation::keepLastClip(int n, const std::string& wav) {
    const std::string last = settings_.scratch.lastClip();
    removeFile(last);
    if (std::rename(wav.c_str(), last.c_str()) == 0) setPermissions(last, 0600);
    lastSavedN_ = n;
}

void Dictation::cancelRecording() {
    if (!recording_) return;
    recording_ = false;
    instantFinish_ = false;
    autoStop_.cancel();
    services_.captions->stop();
    services_.chunks->cancel();
    services_.capturer->stop();
    removeFile(currentWav_);
    commandSelection_.reset();
    ui_.recordingStopped();
    log(LogLevel::abandoned, "recording canceled — nothing transcribed");
    play(Sound::Cancel);
}

void Dictation::keepInterrupted() {
    if (!recording_) return;
    recording_ = false;
    autoStop_.cancel();
    services_.captions->stop();
    services_.chunks->cancel();
    const AudioCapturer::Result result = services_.capturer->stop();
    if (result.bytes == 0) {
        removeFile(currentWav_);
        return;
    }
    const auto kept = settings_.scratch.keepFailedRecording(currentWav_, sessionN_);
    if (!kept) {
        // Left where it is: the next start keeps it.
        log(LogLevel::serious, "could not keep the interrupted recording " + currentWav_);
        return;
    }
    log(LogLevel::warning,
        interruptedDictationText(static_cast<double>(result.bytes) / kBytesPerSecond) +
            " (session " + std::to_string(sessionN_) + ") · " + *kept +
            " · or vak-dictate --retry-failed");
}

void Dictation::startCommandMode() {
    if (recording_) return;
    std::weak_ptr<Dictation> weak = weak_from_this();
    copySelection(*services_.main, services_.desktop, [weak](std::optional<std::string> selection) {
        auto self = weak.lock();
        if (!self || self->recording_) return;
        if (!selection) {
            log(LogLevel::abandoned, "command mode: no text selected — highlight text, then " +
                                         commandChordName(self->settings_.hotkey));
            self->play(Sound::Failure);
            return;
        }
        log(LogLevel::command, "command mode: " + std::to_string(graphemeCount(*selection)) +
                                   " chars selected — speak the edit, tap " +
                                   triggerKeyShortName(self->settings_.hotkey) + " to apply");
        self->commandSelection_ = std::move(selection);
        self->startRecording();
        if (self->recording_) {
            self->ui_.setCaption("🎯 Speak the edit for the selected text…");
        } else {
            self->commandSelection_.reset();
        }
    });
}

void Dictation::startProducerSession() {
    duradAveOn_ = true;
    if (services_.producer.sessionStarted) services_.producer.sessionStarted();
    ui_.showProducerPanel();
    log(LogLevel::producer, "Durad Ave session ON");
    play(Sound::Start);
}

void Dictation::endProducerSession() {
    duradAveOn_ = false;
    if (services_.producer.sessionEnded) services_.producer.sessionEnded();
    ui_.hideProducerPanel();
    log(LogLevel::producer, "Durad Ave session OFF");
    play(Sound::Cancel);
}

} // namespace vak
