#include "audio/audio_capturer.h"

#include "audio/input_devices.h"
#include "audio/sample_converter.h"
#include "audio/wav.h"
#include "base/environment.h"
#include "base/log.h"
#include "base/main_queue.h"
#include "platform/host.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace vak {

namespace {

// CoreAudio-style format flags, so diagnostic lines read the same on every platform.
int formatFlags(SampleFormat format) {
    constexpr int kIsFloat = 1;
    constexpr int kIsSignedInteger = 4;
    constexpr int kIsPacked = 8;
    return (format == SampleFormat::Float32 ? kIsFloat : kIsSignedInteger) | kIsPacked;
}

std::string formatRate(double rate) {
    std::ostringstream out;
    out << rate;
    std::string text = out.str();
    if (text.find('.') == std::string::npos && text.find('e') == std::string::npos) text += ".0";
    return text;
}

// The first channel of a buffer with more than two, as mono float at the same rate.
AudioBuffer firstChannel(const AudioBuffer& buffer) {
    AudioBuffer mono;
    mono.format = SampleFormat::Float32;
    mono.sampleRate = buffer.sampleRate;
    mono.channels = 1;
    const std::size_t frames = buffer.frames();
    mono.bytes.resize(frames * 4);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::uint8_t* at = buffer.bytes.data() + f * buffer.bytesPerFrame();
        float value = 0;
        if (buffer.format == SampleFormat::Float32) {
            std::memcpy(&value, at, 4);
        } else if (buffer.format == SampleFormat::Int32) {
            std::int32_t s = 0;
            std::memcpy(&s, at, 4);
            value = static_cast<float>(static_cast<double>(s) / 2147483648.0);
        } else {
            std::int16_t s = 0;
            std::memcpy(&s, at, 2);
            value = static_cast<float>(s) / 32768.0f;
        }
        std::memcpy(mono.bytes.data() + f * 4, &value, 4);
    }
    return mono;
}

void putLe32(int fd, off_t offset, std::uint32_t value) {
    const auto bytes = le32(value);
    // A failed patch leaves sizes of 0, which every reader here copes with.
    [[maybe_unused]] const auto written = ::pwrite(fd, bytes.data(), bytes.size(), offset);
}

} // namespace

std::shared_ptr<AudioCapturer> AudioCapturer::create(MainQueue& main,
                                                     std::shared_ptr<AudioBackend> backend) {
    return std::shared_ptr<AudioCapturer>(new AudioCapturer(main, std::move(backend)));
}

AudioCapturer::AudioCapturer(MainQueue& main, std::shared_ptr<AudioBackend> backend)
    : main_(main), backend_(std::move(backend)), capDebug_(envValue(Env::CaptureDebug) == "1") {}

AudioCapturer::~AudioCapturer() {
    if (stream_) stream_->stop();
}

void AudioCapturer::setOnLevel(std::function<void(float)> onLevel) {
    std::lock_guard lock(shared_);
    onLevel_ = std::move(onLevel);
}

std::string AudioCapturer::deviceName() const {
    std::lock_guard lock(shared_);
    return deviceName_;
}

bool AudioCapturer::start(const std::string& path, std::string_view preference,
                          std::function<void(const std::string&)> onSwap,
                          std::function<void()> onDead, std::string overflowPath,
                          std::function<void(const std::string&)> onWriteFailed) {
    onSwap_ = std::move(onSwap);
    onDead_ = std::move(onDead);
    writer_.sync([&] {
        overflowPath_ = std::move(overflowPath);
        onWriteFailed_ = std::move(onWriteFailed);
    });
    path_ = path;
    swapped_ = false;
    auto candidates = resolveAVDevices(*backend_, preference);
    if (candidates.empty()) {
        if (auto fallback = backend_->defaultInputDevice()) candidates.push_back(*fallback);
    }
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (startSession(candidates[i], path)) {
            leftover_.assign(candidates.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                             candidates.end());
            armFlowCheck();
            return true;
        }
    }
    return false;
}

bool AudioCapturer::startSession(const AudioDeviceInfo& device, const std::string& path) {
    // The file and its header come first, so the first buffers already have somewhere to go.
    // A file that cannot be made is the first failed write: the audio is held from the start.
    auto file = createScratchFile(path);
    std::string problem;
    if (!file || !writeAll(file->get(), wavHeader(0))) {
        problem = std::strerror(errno);
        file.reset();
    }
    const auto generation = ++generation_;
    writer_.sync([&] {
        fh_ = file ? std::move(*file) : UniqueFd();
        writerGeneration_ = generation;
        writerPath_ = path;
        dataBytes_ = 0;
        fileBytes_ = 0;
        held_.clear();
        writeProblem_.clear();
        heldFull_ = false;
        framesSeen_ = 0;
        peak_ = 0;
        if (!problem.empty()) writeFailed(problem);
    });
    sampleQueue_.sync([&] { converter_.reset(); });
    paused_.store(false);
    {
        std::lock_guard lock(shared_);
        deviceName_ = device.name;
    }

    std::weak_ptr<AudioCapturer> weak = weak_from_this();
    std::string error;
    stream_ = backend_->openCapture(
        device, sampleQueue_,
        [weak, generation](AudioBuffer buffer) {
            auto self = weak.lock();
            if (self && self->generation_.load() == generation)
                self->onBuffer(std::move(buffer), generation);
        },
        &error);
    if (!stream_) {
        log(LogLevel::info, std::string(host().captureName) + ": cannot open " + device.name);
    } else if (!stream_->isRunning()) {
        log(LogLevel::info,
            std::string(host().captureName) + ": session failed to start on " + device.name);
        stream_->stop();
        stream_.reset();
    }
    if (!stream_) {
        writer_.sync([&] {
            fh_.reset();
            writerGeneration_ = 0;
        });
        return false;
    }
    active_.store(true);
    return true;
}

AudioCapturer::Result AudioCapturer::teardown(bool patch) {
    if (stream_) {
        stream_->stop();
        stream_.reset();
    }
    // Buffers the device delivered before the stop still belong to this recording, and so does
    // the tail the resampler holds back.
    sampleQueue_.sync([this] {
        if (!converter_) return;
        auto tail = converter_->flush();
        converter_.reset();
        if (!tail.empty()) writeSamples(std::move(tail), peakOf(tail), generation_.load());
    });
    active_.store(false);
    ++generation_; // buffers and checks of the old session are stale from here on
    Result result;
    const std::string device = deviceName();
    writer_.sync([&] {
        result.bytes = dataBytes_;
        result.peak = peak_;
        result.frames = framesSeen_;
        result.device = device;
        result.path = writerPath_;
        result.writeProblem = writeProblem_;
        if (!patch) {
            fh_.reset();
            return;
        }
        // A file removed while it was written (its folder cleaned up) still holds the audio
        // until it is closed: it goes to the overflow folder like held audio.
        struct stat st {};
        if (fh_.valid() && ::fstat(fh_.get(), &st) == 0 && st.st_nlink == 0) {
            writeFailed("the file was removed while recording");
            result.writeProblem = writeProblem_;
            if (const auto whole = writeOverflow()) result.path = *whole;
        }
        if (!held_.empty()) {
            if (const auto whole = writeOverflow()) {
                result.path = *whole;
            } else {
                result.bytes = fileBytes_;
            }
        }
        held_.clear();
        held_.shrink_to_fit();
        writerGeneration_ = 0;
        if (!fh_.valid()) return;
        if (fileBytes_ + 36 <= std::numeric_limits<std::uint32_t>::max()) {
            putLe32(fh_.get(), 4, static_cast<std::uint32_t>(fileBytes_ + 36));
            putLe32(fh_.get(), 40, static_cast<std::uint32_t>(fileBytes_));
        }
        fh_.reset();
    });
    return result;
}

AudioCapturer::Result AudioCapturer::stop() {
    return teardown(true);
}

void AudioCapturer::writeFailed(const std::string& cause) {
    if (!writeProblem_.empty()) return;
    writeProblem_ = writerPath_ + ": " + cause;
    log(LogLevel::serious, "recording: writing " + writeProblem_ + " — " +
                               (overflowPath_.empty() ? std::string("the rest is lost")
                                                      : "holding the audio in memory"));
    if (onWriteFailed_)
        main_.post([onWriteFailed = onWriteFailed_, cause] { onWriteFailed(cause); });
}

std::optional<std::string> AudioCapturer::writeOverflow() {
    if (overflowPath_.empty()) return std::nullopt;
    const auto fail = [this](const std::string& why) -> std::optional<std::string> {
        log(LogLevel::serious, "recording: could not write " + overflowPath_ + " (" + why +
                                   ") — only " + std::to_string(fileBytes_ / 32000) +
                                   " s of it are kept, in " + writerPath_);
        ::unlink(overflowPath_.c_str());
        return std::nullopt;
    };
    const std::string folder = overflowPath_.substr(0, overflowPath_.rfind('/'));
    makeDirectories(folder, 0700);
    const std::uint64_t total = fileBytes_ + held_.size();
    if (total + 36 > std::numeric_limits<std::uint32_t>::max()) return fail("too long");
    auto out = createScratchFile(overflowPath_);
    if (!out) return fail(std::strerror(errno));
    if (!writeAll(out->get(), wavHeader(static_cast<std::uint32_t>(total))))
        return fail(std::strerror(errno));
    // The file's part first, read back in blocks.
    std::string block(1 << 16, '\0');
    for (std::uint64_t done = 0; done < fileBytes_;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), fileBytes_ - done));
        const ssize_t got =
            ::pread(fh_.get(), block.data(), want, static_cast<off_t>(kWavHeaderBytes + done));
        if (got <= 0) return fail("cannot read back " + writerPath_);
        if (!writeAll(out->get(), std::string_view(block.data(), static_cast<std::size_t>(got))))
            return fail(std::strerror(errno));
        done += static_cast<std::uint64_t>(got);
    }
    if (!writeAll(out->get(), held_)) return fail(std::strerror(errno));
    // The partial file goes, which also gives its folder its room back.
    fh_.reset();
    ::unlink(writerPath_.c_str());
    log(LogLevel::ok,
        "recording: all " + std::to_string(total / 32000) + " s kept in " + overflowPath_);
    return overflowPath_;
}

void AudioCapturer::armFlowCheck() {
    std::weak_ptr<AudioCapturer> weak = weak_from_this();
    const auto generation = generation_.load();
    writer_.after(kFlowCheckSeconds, [weak, generation] {
        auto self = weak.lock();
        if (!self || self->generation_.load() != generation || !self->active_.load()) return;
        // A pause keeps buffers out of the file: judge the device once it records again.
        if (self->paused_.load()) {
            self->armFlowCheck();
            return;
        }
        // Frames of nothing but silence are no better than no frames.
        if (self->framesSeen_ != 0 && self->peak_ >= kSilentPeak) return;
        self->main_.post([weak, generation] {
            auto capturer = weak.lock();
            if (!capturer || capturer->generation_.load() != generation) return;
            capturer->swapDevice();
        });
    });
}

void AudioCapturer::swapDevice() {
    std::vector<AudioDeviceInfo> candidates;
    candidates.swap(leftover_);
    // A preference of one device: the built-in ones are worth a try after it.
    if (candidates.empty() && !swapped_) candidates = resolveAVDevices(*backend_, "builtin");
    swapped_ = true;
    if (candidates.empty()) {
        if (onDead_) onDead_();
        return;
    }
    teardown(false);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (startSession(candidates[i], path_)) {
            leftover_.assign(candidates.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                             candidates.end());
            if (onSwap_) onSwap_(candidates[i].name);
            armFlowCheck();
            return;
        }
    }
    if (onDead_) onDead_();
}

void AudioCapturer::diagnostic(int& counter, const std::string& line) {
    if (!capDebug_ || counter >= 3) return;
    ++counter;
    log(LogLevel::info, line);
}

void AudioCapturer::onBuffer(AudioBuffer buffer, std::uint64_t generation) {
    const std::size_t frames = buffer.frames();
    if (capDebug_ && capCallbacks_ < 3) {
        std::string line = "capdebug cb: samples=" + std::to_string(frames) +
                           " paused=" + (paused_.load() ? "true" : "false");
        if (buffer.channels > 0 && buffer.sampleRate > 0) {
            line += " rate=" + formatRate(buffer.sampleRate) +
                    " ch=" + std::to_string(buffer.channels) +
                    " bits=" + std::to_string(buffer.bytesPerSample() * 8) +
                    " flags=" + std::to_string(formatFlags(buffer.format)) +
                    " bytesPerFrame=" + std::to_string(buffer.bytesPerFrame());
        } else {
            line += " NO-FORMAT-DESC";
        }
        diagnostic(capCallbacks_, line);
    }
    if (paused_.load()) {
        std::function<void(float)> onLevel;
        {
            std::lock_guard lock(shared_);
            onLevel = onLevel_;
        }
        if (onLevel) main_.post([onLevel] { onLevel(0); });
        return;
    }
    if (buffer.channels < 1 || !(buffer.sampleRate > 0)) {
        diagnostic(capFails_, "capdebug: no format description");
        return;
    }
    if (frames == 0) return;
    if (buffer.channels > 2) {
        ingest(firstChannel(buffer), generation);
    } else {
        ingest(buffer, generation);
    }
}

void AudioCapturer::ingest(const AudioBuffer& buffer, std::uint64_t generation) {
    if (buffer.frames() == 0 || !(buffer.sampleRate > 0)) return;
    if (!converter_ || converter_->inputRate() != buffer.sampleRate ||
        converter_->channels() != buffer.channels) {
        // The old format's last few milliseconds are still in its resampler.
        if (converter_) {
            auto tail = converter_->flush();
            if (!tail.empty()) writeSamples(std::move(tail), peakOf(tail), generation);
        }
        converter_ = std::make_unique<SampleConverter>(buffer.sampleRate, buffer.channels);
    }
    if (!converter_->valid()) {
        converter_.reset();
        return;
    }
    std::vector<std::int16_t> samples = converter_->convert(buffer);
    if (samples.empty()) return;

    const std::int16_t chunkPeak = peakOf(samples);
    std::function<void(float)> onLevel;
    {
        std::lock_guard lock(shared_);
        onLevel = onLevel_;
    }
    if (onLevel) {
        const float level = levelForPeak(chunkPeak);
        main_.post([onLevel, level] { onLevel(level); });
    }

    writeSamples(std::move(samples), chunkPeak, generation);
}

void AudioCapturer::writeSamples(std::vector<std::int16_t> samples, std::int16_t chunkPeak,
                                 std::uint64_t generation) {
    std::weak_ptr<AudioCapturer> weak = weak_from_this();
    writer_.async([weak, samples = std::move(samples), chunkPeak, generation] {
        auto self = weak.lock();
        // A buffer of a session that has since ended must not land in the next one's file.
        if (!self || self->writerGeneration_ != generation) return;
        const std::string_view bytes(reinterpret_cast<const char*>(samples.data()),
                                     samples.size() * sizeof(std::int16_t));
        // Little-endian on every platform we build for; the file is little-endian PCM.
        if (self->writeProblem_.empty()) {
            if (writeAll(self->fh_.get(), bytes)) {
                self->fileBytes_ += bytes.size();
            } else {
                const std::string cause = std::strerror(errno);
                // The file keeps whole buffers only; the rest follows in memory, in order.
                [[maybe_unused]] const int cut = ::ftruncate(
                    self->fh_.get(), static_cast<off_t>(kWavHeaderBytes + self->fileBytes_));
                self->writeFailed(cause);
            }
        }
        if (!self->writeProblem_.empty()) {
            if (self->overflowPath_.empty()) return;
            if (self->held_.size() + bytes.size() > kMaxHeldBytes) {
                if (!std::exchange(self->heldFull_, true))
                    log(LogLevel::serious, "recording: 30 min held in memory — the rest is lost");
                return;
            }
            self->held_.append(bytes);
        }
        self->dataBytes_ += bytes.size();
        self->framesSeen_ += samples.size();
        if (chunkPeak > self->peak_) self->peak_ = chunkPeak;
    });
}

} // namespace vak
