// vak-parakeet-server: a resident Parakeet TDT decoder for vak-dictate. It loads the model once
// and answers whisper-server's requests on the loopback address: GET /health, and POST
// /inference with a multipart "file" (a 16 kHz, 16-bit PCM WAV) answered by {"text": "..."}.
// The other fields a whisper-server takes (language, prompt, beam size, …) are accepted and
// not used: Parakeet detects the language itself and has no prompt.
//
// Built by `vak-dictate --setup-engine` against whisper.cpp's Parakeet library, from the same
// pinned source as whisper-cli and whisper-server.
//
// One model, one decoding state per concurrent request (a state decodes one clip at a time);
// states are kept for the next requests, at most --parallel of them.
#include "httplib.h"
#include "parakeet.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <pthread.h>
#include <unistd.h>
#if __has_include(<sys/prctl.h>)
#include <sys/prctl.h>
#endif

namespace {

struct Options {
    std::string model;
    std::string host = "127.0.0.1";
    int port = 8977;
    int threads = 1;
    int parallel = 2;
};

[[noreturn]] void usage(const char* program, const std::string& problem) {
    std::fprintf(stderr,
                 "error: %s\nusage: %s -m MODEL [--host ADDRESS] [--port N] [-t THREADS] "
                 "[--parallel N]\n",
                 problem.c_str(), program);
    std::exit(2);
}

int number(const char* program, const std::string& option, const char* text, int low, int high) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high)
        usage(program, option + " takes a number from " + std::to_string(low) + " to " +
                           std::to_string(high));
    return static_cast<int>(value);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) usage(argv[0], "unknown argument or missing value: " + arg);
        const char* value = argv[++i];
        if (arg == "-m" || arg == "--model")
            options.model = value;
        else if (arg == "--host")
            options.host = value;
        else if (arg == "--port")
            options.port = number(argv[0], arg, value, 1, 65535);
        else if (arg == "-t" || arg == "--threads")
            options.threads = number(argv[0], arg, value, 1, 256);
        else if (arg == "--parallel")
            options.parallel = number(argv[0], arg, value, 1, 16);
        else
            usage(argv[0], "unknown argument: " + arg);
    }
    if (options.model.empty()) usage(argv[0], "no model (-m)");
    return options;
}

// The library's first error since the thread's last reset: the cause, where the lines after it
// only say what gave up because of it. It is said in the one line that reports the failure.
thread_local std::string t_firstError;

void keepErrors(ggml_log_level level, const char* text, void*) {
    if (level == GGML_LOG_LEVEL_ERROR) {
        if (!t_firstError.empty()) return;
        t_firstError = text;
        t_firstError.erase(std::min(t_firstError.find('\n'), t_firstError.size()));
        while (!t_firstError.empty() && (t_firstError.back() == '\n' || t_firstError.back() == ' '))
            t_firstError.pop_back();
    } else if (level == GGML_LOG_LEVEL_WARN) {
        std::fputs(text, stderr);
    }
}

std::uint32_t le32(const std::string& b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

std::uint16_t le16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      static_cast<unsigned char>(b[at + 1]) << 8);
}

// The samples of a 16 kHz, 16-bit PCM WAV (channels mixed down), or the reason there are none.
// The data chunk's size may be 0 or too large (a recording still being written): what is there
// is taken.
bool readWav(const std::string& bytes, std::vector<float>& samples, std::string& problem) {
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
        problem = "not a WAV file";
        return false;
    }
    int channels = 0;
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const std::string id = bytes.substr(at, 4);
        const std::size_t size = le32(bytes, at + 4);
        const std::size_t body = at + 8;
        if (id == "fmt ") {
            if (size < 16 || body + 16 > bytes.size()) break;
            const int format = le16(bytes, body);
            channels = le16(bytes, body + 2);
            const std::uint32_t rate = le32(bytes, body + 4);
            const int bits = le16(bytes, body + 14);
            if ((format != 1 && format != 0xFFFE) || bits != 16 || channels < 1 ||
                rate != PARAKEET_SAMPLE_RATE) {
                problem = "the audio must be 16 kHz 16-bit PCM (format " + std::to_string(format) +
                          ", " + std::to_string(rate) + " Hz, " + std::to_string(bits) + " bits)";
                return false;
            }
        } else if (id == "data") {
            if (channels == 0) break;
            const std::size_t end =
                size == 0 || body + size > bytes.size() ? bytes.size() : body + size;
            const std::size_t frames = (end - body) / (2 * static_cast<std::size_t>(channels));
            samples.resize(frames);
            for (std::size_t f = 0; f < frames; ++f) {
                float sum = 0;
                for (int c = 0; c < channels; ++c)
                    sum += static_cast<float>(static_cast<std::int16_t>(
                        le16(bytes, body + 2 * (f * channels + static_cast<std::size_t>(c)))));
                samples[f] = sum / (32768.0f * static_cast<float>(channels));
            }
            return true;
        }
        at = body + size + (size & 1);
    }
    problem = "a WAV file without its format or data chunk";
    return false;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

// Decoding states: one per request in flight, kept for later ones, at most `limit`.
class StatePool {
  public:
    StatePool(parakeet_context* context, int limit) : context_(context), limit_(limit) {}
    ~StatePool() {
        for (auto* state : idle_)
            parakeet_free_state(state);
    }
    parakeet_state* take() {
        std::unique_lock lock(mutex_);
        freed_.wait(lock, [&] { return !idle_.empty() || made_ < limit_; });
        if (!idle_.empty()) {
            auto* state = idle_.back();
            idle_.pop_back();
            return state;
        }
        ++made_;
        lock.unlock();
        parakeet_state* state = parakeet_init_state(context_);
        if (state == nullptr) {
            std::lock_guard again(mutex_);
            --made_;
            freed_.notify_one();
        }
        return state;
    }
    void give(parakeet_state* state) {
        {
            std::lock_guard lock(mutex_);
            idle_.push_back(state);
        }
        freed_.notify_one();
    }

  private:
    parakeet_context* context_;
    const int limit_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::vector<parakeet_state*> idle_;
    int made_ = 0;
};

void answerError(httplib::Response& response, int status, const std::string& message) {
    response.status = status;
    response.set_content("{\"error\":" + jsonString(message) + "}", "application/json");
}

// Answers requests until a stop signal; the exit status. The states end before the model.
int serve(parakeet_context* context, const Options& options, sigset_t& stopSignals,
          std::chrono::steady_clock::time_point loadStart) {
    StatePool states(context, options.parallel);
    // One state now: a model that loads but cannot decode fails here, not at the first request.
    if (parakeet_state* first = states.take(); first != nullptr) {
        states.give(first);
    } else {
        std::fprintf(stderr, "error: cannot make a decoding state for %s\n", options.model.c_str());
        return 3;
    }
    const double loadSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();

    httplib::Server server;
    server.new_task_queue = [&] {
        return new httplib::ThreadPool(static_cast<std::size_t>(options.parallel) + 2);
    };
    server.Get("/health", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("{\"status\":\"ok\"}", "application/json");
    });
    server.Post("/inference", [&](const httplib::Request& request, httplib::Response& response) {
        if (!request.has_file("file")) return answerError(response, 400, "no 'file' field");
        std::vector<float> samples;
        std::string problem;
        if (!readWav(request.get_file_value("file").content, samples, problem))
            return answerError(response, 400, problem);
        if (samples.size() > static_cast<std::size_t>(INT32_MAX))
            return answerError(response, 400, "the audio is too long");
        parakeet_state* state = states.take();
        if (state == nullptr)
            return answerError(response, 500, "cannot make a decoding state (out of memory?)");
        t_firstError.clear();
        parakeet_full_params params = parakeet_full_default_params(PARAKEET_SAMPLING_GREEDY);
        params.n_threads = options.threads;
        params.no_context = true; // each clip on its own: the state is reused
        const int status = parakeet_full_with_state(context, state, params, samples.data(),
                                                    static_cast<int>(samples.size()));
        std::string text;
        if (status == 0) {
            const int segments = parakeet_full_n_segments_from_state(state);
            for (int i = 0; i < segments; ++i) {
                const char* piece = parakeet_full_get_segment_text_from_state(state, i);
                if (piece == nullptr || *piece == '\0') continue;
                if (!text.empty() && piece[0] != ' ') text += ' ';
                text += piece;
            }
        }
        states.give(state);
        if (status != 0) {
            std::fprintf(stderr, "error: decode failed (%d)%s%s\n", status,
                         t_firstError.empty() ? "" : ": ", t_firstError.c_str());
            return answerError(response, 500,
                               "decode failed (" + std::to_string(status) +
                                   (t_firstError.empty() ? "" : ": " + t_firstError) + ")");
        }
        response.set_content("{\"text\":" + jsonString(text) + "}", "application/json");
    });

    if (!server.bind_to_port(options.host, options.port)) {
        std::fprintf(stderr, "error: cannot listen on %s:%d\n", options.host.c_str(), options.port);
        return 4;
    }
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    });
    std::fprintf(
        stderr,
        "vak-parakeet-server: %s loaded in %.1f s; listening on %s:%d (%d threads, %d at once)\n",
        options.model.c_str(), loadSeconds, options.host.c_str(), options.port, options.threads,
        options.parallel);
    const bool listened = server.listen_after_bind();
    // Ended by a signal: the stopper has run. Otherwise wake it with one of its own.
    if (stopper.joinable()) {
        if (!listened) pthread_kill(stopper.native_handle(), SIGTERM);
        stopper.join();
    }
    return listened ? 0 : 4;
}

} // namespace

int main(int argc, char** argv) {
#ifdef PR_SET_PDEATHSIG
    // Ended with the process that started it, even one that crashed or was killed: a resident
    // server left behind would keep its memory, its port and, mid-request, a core.
    const pid_t starter = getppid();
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != starter) return 4;
#endif
    const Options options = parse(argc, argv);
    // SIGTERM and SIGINT end the server after the requests in flight: a thread of its own waits
    // for them (the mask is inherited by every thread started from here on).
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    parakeet_log_set(keepErrors, nullptr);
    ggml_backend_load_all();
    const auto loadStart = std::chrono::steady_clock::now();
    parakeet_context_params contextParams = parakeet_context_default_params();
    parakeet_context* context =
        parakeet_init_from_file_with_params(options.model.c_str(), contextParams);
    if (context == nullptr) {
        std::fprintf(stderr, "error: cannot load the Parakeet model %s%s%s\n",
                     options.model.c_str(), t_firstError.empty() ? "" : ": ", t_firstError.c_str());
        return 3;
    }
    const int status = serve(context, options, stopSignals, loadStart);
    parakeet_free(context);
    return status;
}
