#include "platform/linux/pulse_sound_player.h"

#include "base/serial_queue.h"
#include "base/time_util.h"
#include "platform/linux/pulse_connection.h"
#include "platform/linux/tones.h"

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vak {

struct PulseSoundPlayer::State {
    PulseConnection connection;
    std::set<pa_stream*> live;   // streams still playing; guarded by the loop lock
    std::atomic<int> pending{0}; // sounds asked for and not yet played out or dropped
    std::map<Sound, std::vector<std::int16_t>> tones; // queue only
    std::unique_ptr<SerialQueue> queue = std::make_unique<SerialQueue>("vak.sounds");

    ~State() {
        queue.reset(); // no new streams from here on
        if (connection.loop == nullptr) return;
        connection.lock();
        for (pa_stream* stream : live) {
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        live.clear();
        connection.unlock();
    }

    // Runs on the mainloop's thread when the server has played everything written.
    static void onDrained(pa_stream* stream, int /*success*/, void* userdata) {
        auto* state = static_cast<State*>(userdata);
        if (state->live.erase(stream) == 0) return;
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        state->pending.fetch_sub(1);
    }

    // On the sound queue: writes the whole tone into a new playback stream. True when the
    // stream took it (its end is then counted by onDrained).
    bool start(const std::vector<std::int16_t>& samples) {
        if (samples.empty() || !connection.acquire()) return false;
        const pa_sample_spec spec{PA_SAMPLE_S16LE, TONE_SAMPLE_RATE, 1};
        pa_stream* stream = pa_stream_new(connection.context, "vak-dictate sound", &spec, nullptr);
        if (stream == nullptr) {
            connection.unlock();
            return false;
        }
        const auto bytes = static_cast<std::uint32_t>(samples.size() * sizeof(std::int16_t));
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = bytes; // the whole sound fits, so one write takes it
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        const bool ready =
            pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_NOFLAGS, nullptr,
                                       nullptr) >= 0 &&
            connection.waitLocked([stream] {
                const auto s = pa_stream_get_state(stream);
                return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
            }) &&
            pa_stream_get_state(stream) == PA_STREAM_READY &&
            pa_stream_write(stream, samples.data(), bytes, nullptr, 0, PA_SEEK_RELATIVE) >= 0;
        pa_operation* drain = ready ? pa_stream_drain(stream, &State::onDrained, this) : nullptr;
        if (drain == nullptr) {
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            connection.unlock();
            return false;
        }
        live.insert(stream);
        pa_operation_unref(drain);
        connection.unlock();
        return true;
    }
};

PulseSoundPlayer::PulseSoundPlayer() : state_(std::make_shared<State>()) {}

PulseSoundPlayer::~PulseSoundPlayer() = default;

void PulseSoundPlayer::play(Sound sound) {
    state_->pending.fetch_add(1);
    State* state = state_.get(); // the queue dies first in ~State, so tasks never outlive it
    state_->queue->async([state, sound] {
        auto found = state->tones.find(sound);
        if (found == state->tones.end())
            found = state->tones.emplace(sound, toneSamples(sound)).first;
        if (!state->start(found->second)) state->pending.fetch_sub(1);
    });
}

bool PulseSoundPlayer::waitIdle(double timeoutSeconds) {
    const auto deadline = deadlineAfter(timeoutSeconds);
    while (state_->pending.load() > 0) {
        if (SteadyClock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace vak
