#pragma once

#include "audio/audio_capturer.h"
#include "base/executor.h"
#include "foundation/config.h"
#include "foundation/process_values.h"
#include "foundation/scratch_files.h"
#include "platform/sound_player.h"
#include "session/delivery_routing.h"
#include "session/key_recognizer.h"
#include "session/session_ui.h"
#include "session/text_insertion.h"
#include "transcribe/decode_router.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vak {

class CaptionEngine;
class ChunkEngine;
class MainQueue;
struct PlatformServices;

// The settings the session controller reads.
struct DictationSettings {
    std::uint16_t hotkey{}; // named in the hints the log gives
    std::string inputDevice;
    double maxRecordSeconds{};
    bool polish{};
    std::string polishApps;
    std::string proApps;
    bool keepLastClip{};
    ScratchFiles scratch; // the sessions' recordings and decoder outputs
    RouteSettings route;

    static DictationSettings from(const Config& config, const ScratchFiles& scratch);
    // The process's: its configuration, scratch files and the user's mode-rules file.
    static DictationSettings from(const ProcessValues& values);
};

// What a producer session starts and stops besides the panel: the producer's own tools.
struct ProducerTools {
    std::function<void()> sessionStarted;
    std::function<void()> sessionEnded;

    // The sibling producer's tools in ~/.local/bin and its inbox, of the home folder of `values`.
    static ProducerTools from(const ProcessValues& values);
};

// Everything the controller works with.
struct DictationServices {
    MainQueue* main = nullptr;
    Executor* background = nullptr; // decodes, rewrites, command edits
    std::shared_ptr<AudioCapturer> capturer;
    std::shared_ptr<CaptionEngine> captions;
    std::shared_ptr<ChunkEngine> chunks;
    TextInserter::Services desktop;
    std::shared_ptr<SoundPlayer> sounds;
    ProducerTools producer;
    // Whether the microphone may be used (on Linux: a sound server answers).
    std::function<bool()> microphoneAvailable;
    // The full decode of a recording; nothing when every engine failed.
    std::function<std::optional<std::string>(const DecodeRequest& request)> decode;
    std::function<std::string(std::string_view raw)> format;
    std::function<std::optional<std::string>(std::string_view selection,
                                             std::string_view instruction)>
        commandEdit;
    std::function<std::optional<DeliverMode>(std::string_view app)> learnedMode;
    // The per-dictation log line and history record (history.h); may wait for the secret store,
    // so it runs on `history`, in the order of the calls.
    std::function<void(std::string_view text, std::string_view tag, std::string_view caveat)>
        logTranscript;
    std::shared_ptr<Executor> history;

    // The process's engines and tools, the platform services `platform`, reporting on `main`;
    // `values` (the process's) outlive the services, and the decodes share `decodes`.
    static DictationServices from(MainQueue& main, const ProcessValues& values,
                                  const PlatformServices& platform, const DecodeMemory& decodes);
};

// The one session controller: turns taps into recording sessions, obtains and routes each
// transcript, and pastes, records and cleans up at the end. Sessions are numbered; a new one
// may start while earlier ones are still transcribing, each with its own files and values.
//
// Main thread only; background work holds the controller weakly and hops back to the main
// queue before it touches the pasteboard or the interface.
class Dictation final : public KeyActions,
                        public SessionControl,
                        public std::enable_shared_from_this<Dictation> {
  public:
    static std::shared_ptr<Dictation> create(SessionUi& ui, DictationSettings settings,
                                             DictationServices services);
    ~Dictation() override;
    Dictation(const Dictation&) = delete;
    Dictation& operator=(const Dictation&) = delete;

    // KeyActions and SessionControl.
    bool isRecording() const override { return recording_; }
    void startRecording() override;
    void stopAndTranscribe() override;
    void cancelRecording() override;
    void startCommandMode() override;
    bool producerSessionOn() const override { return duradAveOn_; }
    void startProducerSession() override;
    void endProducerSession() override;
    void toggle() override;
    void finishInstantly() override;
    void pauseCapture() override { services_.capturer->pauseCapture(); }
    void resumeCapture() override { services_.capturer->resumeCapture(); }
    bool isCapturePaused() const override { return services_.capturer->isPaused(); }

    // The daemon is ending (Quit, or TERM, INT or HUP): a recording in progress is stopped and
    // kept as a failed recording for a retry, not lost.
    void keepInterrupted();

    // Pastes `text` into the focused application (the SIGUSR2 check uses it directly). When it
    // could not be typed, says so on the pill. `then` hears, once the paste key was sent or could
    // not be (at once, or after the keys' lead), what to put in the log line instead of "✓";
    // empty when it was pasted.
    void insert(const std::string& text, std::function<void(const std::string& caveat)> then);

    int sessionN() const { return sessionN_; }
    const std::string& currentWav() const { return currentWav_; }
    AudioCapturer& capturer() { return *services_.capturer; }

  private:
    Dictation(SessionUi& ui, DictationSettings settings, DictationServices services);

    // `wav` is the whole recording; `chunked` whether the chunk engine's text covers it.
    void transcribeAndRoute(RouteRequest request, const std::string& wav, bool chunked);
    // The end of every delivery path, on the main queue.
    void finish(int n, const std::string& wav, std::string text, std::string label,
                bool decodeFailed, const DecodeTrail& trail);
    void keepLastClip(int n, const std::string& wav);
    // The log line and history record of a delivered text, off the main thread.
    void record(const std::string& text, const std::string& tag, const std::string& caveat);
    void play(Sound sound) const;

    SessionUi& ui_;
    const DictationSettings settings_;
    DictationServices services_;
    std::shared_ptr<TextInserter> inserter_;

    bool recording_ = false;
    bool writeTrouble_ = false; // the pill says a write failed; captions keep off it
    int sessionN_ = 0;
    std::string currentWav_;
    std::shared_ptr<DecodeTrail> currentTrail_; // the engines that decode the latest session
    int lastSavedN_ = 0;
    TimerHandle autoStop_;
    std::optional<std::string> commandSelection_;
    bool instantFinish_ = false;
    bool startedWithKey_ = false; // the latest recording, for the first-run note
    bool duradAveOn_ = false;
};

} // namespace vak
