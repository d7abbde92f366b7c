#pragma once

#include <chrono>
#include <mutex>
#include <thread>

#include <pulse/pulseaudio.h>

namespace vak {

// One connection to the PulseAudio server (PipeWire answers as one too): a threaded main loop
// and a context, connected on first use and again after the server went away. Shared by the
// capture backend and the sound player.
struct PulseConnection {
    using Clock = std::chrono::steady_clock;
    // Every request to the sound server gets this long before it counts as failed, so a wedged
    // server can never hang the caller.
    static constexpr auto kRequestTimeout = std::chrono::seconds(3);

    std::mutex mutex; // serialises (re)connection
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;

    PulseConnection() = default;
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    ~PulseConnection() {
        if (loop != nullptr) pa_threaded_mainloop_stop(loop);
        if (context != nullptr) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        if (loop != nullptr) pa_threaded_mainloop_free(loop);
    }

    void lock() { pa_threaded_mainloop_lock(loop); }
    void unlock() { pa_threaded_mainloop_unlock(loop); }

    // Waits, with the loop unlocked in between, until `done` holds or the time is up.
    template <typename Done>
    bool waitLocked(Done done) {
        const auto deadline = Clock::now() + kRequestTimeout;
        while (!done()) {
            if (Clock::now() > deadline) return false;
            unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            lock();
        }
        return true;
    }

    bool waitOperation(pa_operation* op) {
        if (op == nullptr) return false;
        const bool finished =
            waitLocked([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
        if (!finished) pa_operation_cancel(op);
        pa_operation_unref(op);
        return finished;
    }

    // Returns with the loop locked and a ready context, or false (unlocked).
    bool acquire() {
        std::lock_guard guard(mutex);
        if (loop == nullptr) {
            loop = pa_threaded_mainloop_new();
            if (loop == nullptr || pa_threaded_mainloop_start(loop) < 0) return false;
        }
        lock();
        if (context != nullptr && pa_context_get_state(context) == PA_CONTEXT_READY) return true;
        if (context != nullptr) {
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "vak-dictate");
        // Never start a sound server of our own: no server means no microphone and no sound.
        if (context == nullptr ||
            pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            unlock();
            return false;
        }
        const bool settled = waitLocked([this] {
            const auto state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        if (settled && pa_context_get_state(context) == PA_CONTEXT_READY) return true;
        unlock();
        return false;
    }
};

} // namespace vak
