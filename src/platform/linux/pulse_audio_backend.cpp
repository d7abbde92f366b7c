#include "platform/linux/pulse_audio_backend.h"

#include "base/unicode.h"
#include "platform/linux/pulse_connection.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include <pulse/pulseaudio.h>

namespace vak {

namespace {

// Small capture fragments: the first words must reach the file quickly.
constexpr pa_usec_t kFragmentUsec = 20 * 1000;

bool isBuiltIn(const pa_proplist* props) {
    const char* formFactor = pa_proplist_gets(props, PA_PROP_DEVICE_FORM_FACTOR);
    if (formFactor != nullptr && std::strcmp(formFactor, "internal") == 0) return true;
    const char* bus = pa_proplist_gets(props, PA_PROP_DEVICE_BUS);
    return bus != nullptr && (std::strcmp(bus, "pci") == 0 || std::strcmp(bus, "platform") == 0);
}

bool mentionsMic(const char* text) {
    return text != nullptr && toLower(text).find("mic") != std::string::npos;
}

// A microphone rather than a line input: its form factor says so, or its name, description or
// selected port does ("Internal Microphone", "analog-input-mic"). The same sound card's line
// input (port "analog-input-linein") is usually unplugged: silent, yet delivering frames.
bool isMicrophone(const pa_source_info& info) {
    const char* formFactor = pa_proplist_gets(info.proplist, PA_PROP_DEVICE_FORM_FACTOR);
    for (const char* microphoneLike : {"internal", "microphone", "headset", "handset", "webcam"}) {
        if (formFactor != nullptr && std::strcmp(formFactor, microphoneLike) == 0) return true;
    }
    if (mentionsMic(info.name) || mentionsMic(info.description)) return true;
    return info.active_port != nullptr &&
           (mentionsMic(info.active_port->name) || mentionsMic(info.active_port->description));
}

AudioDeviceInfo deviceFrom(const pa_source_info& info) {
    AudioDeviceInfo device;
    device.id = info.index;
    device.uniqueId = info.name != nullptr ? info.name : "";
    device.name = info.description != nullptr && *info.description != '\0' ? info.description
                                                                           : device.uniqueId;
    if (device.name.empty()) device.name = "input";
    device.builtIn = isBuiltIn(info.proplist);
    device.inputChannels = info.sample_spec.channels;
    device.microphone = isMicrophone(info);
    return device;
}

// Formats the capture path converts itself; anything else is asked of the server as float.
pa_sample_format_t captureFormat(pa_sample_format_t native, SampleFormat* ours) {
    switch (native) {
    case PA_SAMPLE_S16LE:
        *ours = SampleFormat::Int16;
        return native;
    case PA_SAMPLE_S32LE:
        *ours = SampleFormat::Int32;
        return native;
    default:
        *ours = SampleFormat::Float32;
        return PA_SAMPLE_FLOAT32LE;
    }
}

} // namespace

namespace {

struct SourceList {
    std::vector<AudioDeviceInfo> devices;
    std::vector<pa_sample_spec> specs;
    std::vector<pa_channel_map> maps;
};

void collectSource(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    if (eol != 0 || info == nullptr) return;
    // Monitors of outputs are not microphones.
    if (info->monitor_of_sink != PA_INVALID_INDEX || info->sample_spec.channels < 1) return;
    auto* list = static_cast<SourceList*>(userdata);
    list->devices.push_back(deviceFrom(*info));
    list->specs.push_back(info->sample_spec);
    list->maps.push_back(info->channel_map);
}

void collectDefaultName(pa_context*, const pa_server_info* info, void* userdata) {
    if (info != nullptr && info->default_source_name != nullptr) {
        *static_cast<std::string*>(userdata) = info->default_source_name;
    }
}

// A record stream. Buffers are copied off the server thread at once and handed to the queue.
class PulseStream final : public AudioStream {
  public:
    PulseStream(std::shared_ptr<PulseConnection> connection, Executor& queue,
                BufferHandler onBuffer, SampleFormat format, double rate, int channels)
        : connection_(std::move(connection)), queue_(queue),
          onBuffer_(std::make_shared<BufferHandler>(std::move(onBuffer))), format_(format),
          rate_(rate), channels_(channels) {}

    ~PulseStream() override { stop(); }

    // Called with the loop locked.
    bool connect(const std::string& sourceName, const pa_sample_spec& spec,
                 const pa_channel_map& map, std::string* error) {
        stream_ = pa_stream_new(connection_->context, "vak-dictate capture", &spec, &map);
        if (stream_ == nullptr) {
            if (error != nullptr) *error = pa_strerror(pa_context_errno(connection_->context));
            return false;
        }
        pa_stream_set_read_callback(stream_, &PulseStream::onReadable, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(-1);
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUsec, &spec));
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(stream_, sourceName.c_str(), &attr, flags) < 0) {
            if (error != nullptr) *error = pa_strerror(pa_context_errno(connection_->context));
            return false;
        }
        const bool settled = connection_->waitLocked([this] {
            const auto state = pa_stream_get_state(stream_);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        if (!settled || pa_stream_get_state(stream_) != PA_STREAM_READY) {
            if (error != nullptr) {
                *error = settled ? pa_strerror(pa_context_errno(connection_->context))
                                 : "the sound server did not answer in time";
            }
            return false;
        }
        return true;
    }

    bool isRunning() const override {
        if (stopped_->load() || stream_ == nullptr) return false;
        connection_->lock();
        const bool ready = pa_stream_get_state(stream_) == PA_STREAM_READY;
        connection_->unlock();
        return ready;
    }

    void stop() override {
        if (stopped_->exchange(true)) return;
        if (stream_ == nullptr) return;
        connection_->lock();
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
        connection_->unlock();
    }

  private:
    static void onReadable(pa_stream* stream, std::size_t, void* userdata) {
        static_cast<PulseStream*>(userdata)->drain(stream);
    }

    void drain(pa_stream* stream) {
        AudioBuffer buffer;
        buffer.format = format_;
        buffer.sampleRate = rate_;
        buffer.channels = channels_;
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t length = 0;
            if (pa_stream_peek(stream, &data, &length) < 0 || length == 0) break;
            // A hole (data == nullptr) is a gap the server could not fill: nothing to keep.
            if (data != nullptr) {
                const auto* bytes = static_cast<const std::uint8_t*>(data);
                buffer.bytes.insert(buffer.bytes.end(), bytes, bytes + length);
            }
            pa_stream_drop(stream);
        }
        const std::size_t whole = buffer.frames() * buffer.bytesPerFrame();
        if (whole == 0) return;
        buffer.bytes.resize(whole);
        // What was captured before stop() is still handed over; nothing is captured after it.
        queue_.async([handler = onBuffer_, buffer = std::move(buffer)]() mutable {
            (*handler)(std::move(buffer));
        });
    }

    std::shared_ptr<PulseConnection> connection_;
    Executor& queue_;
    std::shared_ptr<BufferHandler> onBuffer_;
    SampleFormat format_;
    double rate_;
    int channels_;
    pa_stream* stream_ = nullptr;
    std::shared_ptr<std::atomic<bool>> stopped_ = std::make_shared<std::atomic<bool>>(false);
};

} // namespace

PulseAudioBackend::PulseAudioBackend() : connection_(std::make_shared<PulseConnection>()) {}
PulseAudioBackend::~PulseAudioBackend() = default;

bool PulseAudioBackend::available() {
    if (!connection_->acquire()) return false;
    connection_->unlock();
    return true;
}

std::vector<AudioDeviceInfo> PulseAudioBackend::inputDevices() {
    SourceList list;
    if (!connection_->acquire()) return {};
    const bool complete = connection_->waitOperation(
        pa_context_get_source_info_list(connection_->context, collectSource, &list));
    connection_->unlock();
    return complete ? list.devices : std::vector<AudioDeviceInfo>{};
}

std::optional<AudioDeviceInfo> PulseAudioBackend::defaultInputDevice() {
    std::string defaultName;
    if (!connection_->acquire()) return std::nullopt;
    connection_->waitOperation(
        pa_context_get_server_info(connection_->context, collectDefaultName, &defaultName));
    connection_->unlock();
    if (defaultName.empty()) return std::nullopt;
    for (auto& device : inputDevices()) {
        if (device.uniqueId == defaultName) return device;
    }
    return std::nullopt;
}

std::unique_ptr<AudioStream> PulseAudioBackend::openCapture(const AudioDeviceInfo& device,
                                                            Executor& queue, BufferHandler onBuffer,
                                                            std::string* error) {
    SourceList list;
    if (!connection_->acquire()) {
        if (error != nullptr) *error = "no sound server";
        return nullptr;
    }
    connection_->waitOperation(pa_context_get_source_info_by_name(
        connection_->context, device.uniqueId.c_str(), collectSource, &list));
    if (list.devices.empty()) {
        connection_->unlock();
        if (error != nullptr) *error = "no such input: " + device.uniqueId;
        return nullptr;
    }
    pa_sample_spec spec = list.specs.front();
    SampleFormat format = SampleFormat::Int16;
    spec.format = captureFormat(spec.format, &format);
    auto stream = std::make_unique<PulseStream>(connection_, queue, std::move(onBuffer), format,
                                                static_cast<double>(spec.rate), spec.channels);
    const bool connected = stream->connect(device.uniqueId, spec, list.maps.front(), error);
    connection_->unlock();
    if (!connected) return nullptr;
    return stream;
}

} // namespace vak
