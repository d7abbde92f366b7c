#pragma once

#include "base/timed_queue.h"
#include "foundation/config.h"
#include "foundation/scratch_files.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vak {

struct ProcessValues;

// What the caption engine reads: LIVE_CAPTIONS, CAPTION_INTERVAL, CAPTION_WINDOW, CAPTION_MODEL,
// the caption server, the whisper-cli path and its scratch files.
struct CaptionSettings {
    bool liveCaptions{};
    double intervalSeconds{};
    double windowSeconds{};
    std::string model; // CAPTION_MODEL
    // A resident whisper-server holding the caption model: no model load per pass. Empty, or
    // not answering: each pass runs whisper-cli.
    std::string serverUrl;
    // The server is the decode server, with a model of its own (Parakeet): captions run without
    // the caption model, which only a whisper-cli pass needs.
    bool serverHasOwnModel = false;
    std::string curl = "/usr/bin/curl";
    std::string whisperCli;  // WHISPER
    std::string scratchBase; // the decoder's clip is base + ".wav", its output base + ".txt"
    // Multiplies the timer interval and the decoder's time limits (fast tests).
    double timeScale = 1.0;

    double scaled(double seconds) const { return seconds * timeScale; }

    static CaptionSettings from(const Config& config, const std::string& whisperCli,
                                const ScratchFiles& scratch);
    // The process's: with SERVER on, the caption server's address too.
    static CaptionSettings from(const ProcessValues& values);
};

// Bytes of trailing audio one caption pass decodes before it commits: the window clamped to
// 6…10 seconds, as whole samples.
std::uint64_t captionWindowBytes(double windowSeconds);

// A caption decoder's output made fit to show: bracketed tags ("[BLANK_AUDIO]") and
// parenthesised sound descriptions out, white space collapsed and trimmed.
std::string cleanCaptionText(std::string_view raw);

// Running captions of a growing recording. Every interval it decodes the newest audio with the
// small caption model and shows committed text plus a live tail: audio before a pause is
// committed once and never decoded again, so each decode stays short however long the dictation
// runs. Display only; the final transcript is decoded separately. Decodes go to the caption
// server when one answers, else to a whisper-cli run.
//
// All work runs on one serial queue ("vak.captions" in the daemon; a replay's virtual clock), so
// passes never overlap. stop()
// takes effect at once: a pass already decoding publishes nothing afterwards.
class CaptionEngine final : public std::enable_shared_from_this<CaptionEngine> {
  public:
    using Display = std::function<void(const std::string& caption)>;

    // Runs on `queue`, or on a serial queue of its own when none is given.
    static std::shared_ptr<CaptionEngine> create(CaptionSettings settings,
                                                 std::shared_ptr<TimedQueue> queue = nullptr);
    CaptionEngine(const CaptionEngine&) = delete;
    CaptionEngine& operator=(const CaptionEngine&) = delete;

    // The caption model file exists, or the server captions with a model of its own.
    bool modelAvailable() const;

    // Begins captioning the recording at `wav`; does nothing unless live captions are on and
    // the model exists. Returns at once.
    void start(const std::string& wav);
    void stop();

    // Where captions go; called on the engine's queue. Until one is set they go nowhere: the
    // owner hops them to the main queue for the pill.
    void setDisplay(Display display);

    // Synchronous forms for replaying a file: reset for `wav` without a timer, and run one pass
    // and wait for it.
    void simStart(const std::string& wav);
    void simPass();

  private:
    CaptionEngine(CaptionSettings settings, std::shared_ptr<TimedQueue> queue);
    void reset(const std::string& wav);
    void pass(int generation);
    std::optional<std::string> decodeRange(int fd, std::uint64_t from, std::uint64_t to);
    // A pass's decode by each engine; `answered` false when the server was not there to ask.
    std::optional<std::string> viaServer(const std::string& wav, double limitSeconds,
                                         bool& answered);
    std::optional<std::string> viaCli(const std::string& wav, const std::string& txt,
                                      double limitSeconds);
    void logOnce(const std::string& line); // a failing decoder is logged once per recording

    const CaptionSettings settings_;
    const std::shared_ptr<TimedQueue> queue_;
    // Bumped by start and stop from any thread; read by passes after every decode.
    std::atomic<int> generation_{0};
    // Set by stop: the running pass's decoder is ended (its caption would be dropped anyway, and
    // it would compete with the stop's own decode). Cleared when a pass begins.
    std::atomic<bool> cancelPass_{false};
    // Touched only on queue_.
    TimerHandle timer_;
    std::string wavPath_;
    std::optional<std::uint64_t> dataOffset_;
    std::string committed_;
    std::uint64_t committedByte_ = 0;
    bool overran_ = false; // the last decode ran out of time
    bool failureLogged_ = false;
    bool serverMissLogged_ = false; // once for the engine: a server that is not there
    Display display_;
};

} // namespace vak
