#pragma once

#include "base/files.h"
#include "base/serial_queue.h"
#include "platform/audio_backend.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

class MainQueue;
class SampleConverter;

// Records the microphone into a growing 16 kHz mono 16-bit WAV file that other engines may read
// while it grows. Buffers arrive on the capture queue, are converted there, and are written on
// the writer queue; the level goes to `onLevel` on the main queue it was given. A device that opens
// but delivers nothing, or only silence, for 1.3 s is swapped for the next candidate by itself.
//
// start, stop, pause and resume belong to the main thread.
class AudioCapturer final : public std::enable_shared_from_this<AudioCapturer> {
  public:
    struct Result {
        std::uint64_t bytes = 0;  // sample bytes after the header
        std::int16_t peak = 0;    // largest absolute sample
        std::uint64_t frames = 0; // 16 kHz frames
        std::string device;       // name of the device recorded from
        // Where the recording is now: the path it was started on, or the overflow path when
        // the first could not take all of it.
        std::string path;
        std::string writeProblem; // the first write that failed, and why; empty when none did
    };

    // Audio the file did not take is held in memory up to this much (30 minutes), to be
    // written out whole to the overflow path at the stop.
    static constexpr std::size_t kMaxHeldBytes = 30u * 60u * 32000u;

    // Seconds a freshly started device may stay silent before it is swapped out.
    static constexpr double kFlowCheckSeconds = 1.3;
    // A device whose loudest sample in that time stays below this (about -66 dBFS) delivers
    // silence, not a room: an unplugged line input, a muted microphone. A working microphone's
    // own noise is louder even in a quiet room.
    static constexpr std::int16_t kSilentPeak = 16;

    // Records from the devices of `backend`.
    static std::shared_ptr<AudioCapturer> create(MainQueue& main,
                                                 std::shared_ptr<AudioBackend> backend);
    ~AudioCapturer();
    AudioCapturer(const AudioCapturer&) = delete;
    AudioCapturer& operator=(const AudioCapturer&) = delete;

    // Starts recording into `path` (replaced) from the best device for `preference` (the
    // INPUT_DEVICE setting). `onSwap(name)` follows an automatic switch to another device,
    // `onDead()` the discovery that no device delivers sound (the last one keeps recording);
    // both run on the main queue.
    //
    // A write that fails (a full disk, a removed folder) is logged with its cause and given to
    // `onWriteFailed(cause)` on the main queue, once per recording; the audio from there on is
    // held in memory, and the stop writes the whole recording to `overflowPath` (its folder
    // made when missing). Without an overflow path what the file did not take is lost.
    bool start(const std::string& path, std::string_view preference,
               std::function<void(const std::string&)> onSwap, std::function<void()> onDead,
               std::string overflowPath = {},
               std::function<void(const std::string&)> onWriteFailed = {});
    // Stops, patches the header sizes and closes the file.
    Result stop();

    void pauseCapture() { paused_.store(true); }
    void resumeCapture() { paused_.store(false); }
    bool isPaused() const { return paused_.load(); }
    bool isActive() const { return active_.load(); }

    // Level sink (0…1), called on the main queue.
    void setOnLevel(std::function<void(float)> onLevel);
    std::string deviceName() const;

  private:
    AudioCapturer(MainQueue& main, std::shared_ptr<AudioBackend> backend);
    bool startSession(const AudioDeviceInfo& device, const std::string& path);
    Result teardown(bool patch);
    void armFlowCheck();
    // Moves on to the next candidate after a device that delivered nothing or only silence.
    void swapDevice();

    void onBuffer(AudioBuffer buffer, std::uint64_t generation);
    void ingest(const AudioBuffer& buffer, std::uint64_t generation);
    void writeSamples(std::vector<std::int16_t> samples, std::int16_t chunkPeak,
                      std::uint64_t generation);
    // Writer queue: notes the first failed write and says so.
    void writeFailed(const std::string& cause);
    // Writer queue, at the stop: the file's samples and the held ones, whole, at the overflow
    // path. Its path, or nothing (with the cause logged).
    std::optional<std::string> writeOverflow();
    void diagnostic(int& counter, const std::string& line);

    MainQueue& main_;
    const std::shared_ptr<AudioBackend> backend_; // outlives the stream it opened
    SerialQueue sampleQueue_{"vak.audio.capture"};
    SerialQueue writer_{"vak.audio.writer"};

    std::unique_ptr<AudioStream> stream_; // main thread
    std::atomic<bool> active_{false};
    std::atomic<bool> paused_{false};
    std::atomic<std::uint64_t> generation_{0}; // tells a stale flow check from a current one

    // Capture queue state.
    std::unique_ptr<SampleConverter> converter_;
    const bool capDebug_;
    int capCallbacks_ = 0;
    int capFails_ = 0;

    // Writer queue state.
    UniqueFd fh_;
    std::uint64_t writerGeneration_ = 0; // the session fh_ belongs to
    std::uint64_t dataBytes_ = 0;        // all of the recording: in the file and held
    std::uint64_t fileBytes_ = 0;        // in the file
    std::string held_;                   // after the file's, once a write failed
    std::string writeProblem_;
    bool heldFull_ = false;
    std::string writerPath_; // the file's path
    std::string overflowPath_;
    std::function<void(const std::string&)> onWriteFailed_;
    std::uint64_t framesSeen_ = 0;
    std::int16_t peak_ = 0;

    // Main thread state.
    std::string path_;
    std::vector<AudioDeviceInfo> leftover_; // the candidates not tried yet
    bool swapped_ = false;                  // this recording has left its first device
    std::function<void(const std::string&)> onSwap_;
    std::function<void()> onDead_;

    mutable std::mutex shared_; // guards the two below, read from several queues
    std::string deviceName_ = "?";
    std::function<void(float)> onLevel_;
};

} // namespace vak
