#include "platform/fake/fake_audio_backend.h"

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <thread>

namespace vak {

namespace {

class FakeStream final : public AudioStream {
  public:
    FakeStream(Executor& queue, BufferHandler onBuffer)
        : queue_(queue), onBuffer_(std::make_shared<BufferHandler>(std::move(onBuffer))) {}
    ~FakeStream() override { stop(); }

    void startFeeding(std::function<AudioBuffer(std::size_t)> feed,
                      std::chrono::milliseconds interval) {
        feeder_ = std::thread([this, feed = std::move(feed), interval] {
            for (std::size_t n = 0;; ++n) {
                std::unique_lock lock(mutex_);
                if (wake_.wait_for(lock, interval, [this] { return stopped_->load(); })) return;
                lock.unlock();
                push(feed(n));
            }
        });
    }

    void push(AudioBuffer buffer) {
        queue_.async([handler = onBuffer_, buffer = std::move(buffer)]() mutable {
            (*handler)(std::move(buffer));
        });
    }

    bool isRunning() const override { return !stopped_->load(); }

    void stop() override {
        {
            std::lock_guard lock(mutex_);
            if (stopped_->exchange(true) && !feeder_.joinable()) return;
        }
        wake_.notify_all();
        if (feeder_.joinable() && feeder_.get_id() != std::this_thread::get_id()) feeder_.join();
    }

  private:
    Executor& queue_;
    std::shared_ptr<BufferHandler> onBuffer_;
    std::shared_ptr<std::atomic<bool>> stopped_ = std::make_shared<std::atomic<bool>>(false);
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread feeder_;
};

} // namespace

struct FakeAudioBackend::State {
    mutable std::mutex mutex;
    std::vector<Device> devices;
    std::optional<std::string> defaultId;
    bool available = true;
    std::vector<std::string> history;
    std::map<std::string, FakeStream*> open;
};

FakeAudioBackend::FakeAudioBackend() : state_(std::make_shared<State>()) {}
FakeAudioBackend::~FakeAudioBackend() = default;

void FakeAudioBackend::setDevices(std::vector<Device> devices) {
    std::lock_guard lock(state_->mutex);
    state_->devices = std::move(devices);
}

void FakeAudioBackend::setDefault(std::optional<std::string> uniqueId) {
    std::lock_guard lock(state_->mutex);
    state_->defaultId = std::move(uniqueId);
}

void FakeAudioBackend::setAvailable(bool available) {
    std::lock_guard lock(state_->mutex);
    state_->available = available;
}

bool FakeAudioBackend::deliver(const std::string& uniqueId, AudioBuffer buffer) {
    std::lock_guard lock(state_->mutex);
    auto it = state_->open.find(uniqueId);
    if (it == state_->open.end() || !it->second->isRunning()) return false;
    it->second->push(std::move(buffer));
    return true;
}

std::vector<std::string> FakeAudioBackend::openHistory() const {
    std::lock_guard lock(state_->mutex);
    return state_->history;
}

bool FakeAudioBackend::isOpen(const std::string& uniqueId) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->open.find(uniqueId);
    return it != state_->open.end() && it->second->isRunning();
}

std::vector<AudioDeviceInfo> FakeAudioBackend::inputDevices() {
    std::lock_guard lock(state_->mutex);
    std::vector<AudioDeviceInfo> out;
    if (!state_->available) return out;
    for (const auto& d : state_->devices) {
        if (d.info.inputChannels > 0) out.push_back(d.info);
    }
    return out;
}

std::optional<AudioDeviceInfo> FakeAudioBackend::defaultInputDevice() {
    std::lock_guard lock(state_->mutex);
    if (!state_->available || !state_->defaultId) return std::nullopt;
    for (const auto& d : state_->devices) {
        if (d.info.uniqueId == *state_->defaultId) return d.info;
    }
    return std::nullopt;
}

bool FakeAudioBackend::available() {
    std::lock_guard lock(state_->mutex);
    return state_->available;
}

namespace {

// Unregisters a stream from the fake's table when the capture owner drops it.
class TrackedStream final : public AudioStream {
  public:
    TrackedStream(std::shared_ptr<FakeAudioBackend::State> state, std::string id,
                  std::unique_ptr<FakeStream> inner)
        : state_(std::move(state)), id_(std::move(id)), inner_(std::move(inner)) {}
    ~TrackedStream() override {
        stop();
        std::lock_guard lock(state_->mutex);
        auto it = state_->open.find(id_);
        if (it != state_->open.end() && it->second == inner_.get()) state_->open.erase(it);
    }
    bool isRunning() const override { return inner_->isRunning(); }
    void stop() override { inner_->stop(); }

  private:
    std::shared_ptr<FakeAudioBackend::State> state_;
    std::string id_;
    std::unique_ptr<FakeStream> inner_;
};

} // namespace

std::unique_ptr<AudioStream> FakeAudioBackend::openCapture(const AudioDeviceInfo& device,
                                                           Executor& queue, BufferHandler onBuffer,
                                                           std::string* error) {
    std::lock_guard lock(state_->mutex);
    state_->history.push_back(device.uniqueId);
    const Device* found = nullptr;
    for (const auto& d : state_->devices) {
        if (d.info.uniqueId == device.uniqueId) found = &d;
    }
    if (!state_->available || found == nullptr || found->failsToOpen) {
        if (error != nullptr) *error = "cannot open " + device.name;
        return nullptr;
    }
    auto stream = std::make_unique<FakeStream>(queue, std::move(onBuffer));
    if (found->feed) stream->startFeeding(found->feed, found->interval);
    state_->open[device.uniqueId] = stream.get();
    return std::make_unique<TrackedStream>(state_, device.uniqueId, std::move(stream));
}

AudioBuffer silentBuffer(SampleFormat format, double rate, int channels, std::size_t frames) {
    AudioBuffer buffer;
    buffer.format = format;
    buffer.sampleRate = rate;
    buffer.channels = channels;
    buffer.bytes.assign(frames * buffer.bytesPerFrame(), 0);
    return buffer;
}

AudioBuffer sineBuffer(SampleFormat format, double rate, int channels, std::size_t frames,
                       double frequency, double amplitude, std::size_t startFrame) {
    AudioBuffer buffer = silentBuffer(format, rate, channels, frames);
    const std::size_t width = buffer.bytesPerSample();
    for (std::size_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(startFrame + f) / rate;
        const double value = amplitude * std::sin(2.0 * M_PI * frequency * t);
        for (int c = 0; c < channels; ++c) {
            std::uint8_t* at =
                buffer.bytes.data() +
                (f * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)) * width;
            if (format == SampleFormat::Int16) {
                const auto s = static_cast<std::int16_t>(std::lround(value * 32767.0));
                std::memcpy(at, &s, 2);
            } else if (format == SampleFormat::Int32) {
                const auto s = static_cast<std::int32_t>(std::llround(value * 2147483647.0));
                std::memcpy(at, &s, 4);
            } else {
                const auto s = static_cast<float>(value);
                std::memcpy(at, &s, 4);
            }
        }
    }
    return buffer;
}

} // namespace vak
