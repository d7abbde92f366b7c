#include "transcribe/model_speed.h"

#include "audio/wav.h"
#include "base/files.h"
#include "base/numbers.h"
#include "base/time_util.h"
#include "transcribe/local_decode.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vak {

namespace {

constexpr std::string_view kHeader =
    "# How fast each speech model decodes on this computer, measured by vak-dictate: the model,\n"
    "# seconds of audio, seconds the decode took. Delete a line to have it measured again.\n";

std::optional<double> number(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value <= 0)
        return std::nullopt;
    return value;
}

std::vector<std::string_view> fieldsOf(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while ((at = line.find_first_not_of(" \t\r", at)) != std::string_view::npos) {
        const auto end = line.find_first_of(" \t\r", at);
        fields.push_back(line.substr(at, end == std::string_view::npos ? end : end - at));
        at = end;
    }
    return fields;
}

// A loopback port nothing listens on now (the kernel's pick), for a server of our own.
std::optional<int> freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    std::optional<int> port;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

} // namespace

std::map<std::string, ModelSpeed, std::less<>> loadModelSpeeds(const std::string& path) {
    std::map<std::string, ModelSpeed, std::less<>> speeds;
    const std::string text = readTextFile(path).value_or("");
    std::string_view rest = text;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        const auto fields = fieldsOf(line);
        if (fields.size() != 3 || fields[0].starts_with('#')) continue;
        const auto clip = number(fields[1]);
        const auto compute = number(fields[2]);
        if (clip && compute) speeds[std::string(fields[0])] = {*clip, *compute};
    }
    return speeds;
}

bool recordModelSpeed(const std::string& path, std::string_view model, ModelSpeed speed) {
    if (model.empty() || model.find_first_of(" \t\r\n#") != std::string_view::npos) return false;
    auto speeds = loadModelSpeeds(path);
    speeds[std::string(model)] = speed;
    std::string text(kHeader);
    for (const auto& [name, each] : speeds)
        text += name + " " + fixedDecimals(each.clipSeconds, 2) + " " +
                fixedDecimals(each.computeSeconds, 3) + "\n";
    return writeFileAtomic(path, text, 0600);
}

double expectedWaitSeconds(SpeechEngine engine, const ModelSpeed& speed) {
    if (engine == SpeechEngine::Whisper || speed.clipSeconds <= 0) return speed.computeSeconds;
    return speed.computeSeconds / speed.clipSeconds * kTypicalTailSeconds;
}

std::string speedText(const ModelSpeed& speed) {
    return fixedDecimals(speed.clipSeconds, 0) + " s of audio in " +
           fixedDecimals(speed.computeSeconds, 1) + " s";
}

bool writeTimingClip(const std::string& path, double seconds) {
    // Syllables of a voice at 140 Hz with its harmonics, 180 ms each, a short gap between them
    // and a longer one every fifth: the decoders do their usual work on it.
    const auto frames = static_cast<std::size_t>(std::max(seconds, 0.5) * 16000);
    std::string data;
    data.reserve(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 16000;
        const double period = 0.26;
        const int syllable = static_cast<int>(t / period);
        const double within = t - syllable * period;
        const double length = syllable % 5 == 4 ? 0 : 0.18;
        double sample = 0;
        if (within < length) {
            const double pitch = 120 + 40 * ((syllable * 7) % 5) / 4.0;
            const double envelope = std::sin(std::numbers::pi * within / length);
            for (int harmonic = 1; harmonic <= 6; ++harmonic)
                sample += std::sin(2 * std::numbers::pi * pitch * harmonic * t) / harmonic;
            sample *= 0.25 * envelope;
        }
        // Faint noise under it, as in any room.
        sample += 0.002 * std::sin(12345.678 * static_cast<double>(i * i % 9973));
        const auto value = static_cast<std::int16_t>(std::clamp(sample, -1.0, 1.0) * 32000);
        data += static_cast<char>(value & 0xff);
        data += static_cast<char>((value >> 8) & 0xff);
    }
    return writeWav16kMono(data, path);
}

std::optional<ModelSpeed> timeServerDecode(const DecodeSettings& settings, const std::string& clip,
                                           double readySeconds, std::string* problem) {
    const auto layout = readWavLayout(clip);
    if (!layout) {
        if (problem) *problem = "cannot read the clip " + clip;
        return std::nullopt;
    }
    std::error_code error;
    const auto size = std::filesystem::file_size(clip, error);
    const double clipSeconds =
        error ? 0
              : static_cast<double>(size - std::min<std::uintmax_t>(size, layout->dataOffset)) /
                    32000;
    DecodeSettings plain = settings;
    plain.vadModel.clear(); // the decode itself is timed, not the voice gate
    const auto readyBy = deadlineAfter(readySeconds);
    // A decode as long as a slow machine could take for the clip, and more.
    const double limit = std::max(60.0, clipSeconds * 20);
    for (;;) {
        const auto start = SteadyClock::now();
        const auto answer = runWhisperViaServer(clip, limit, plain);
        if (answer.text) return ModelSpeed{clipSeconds, secondsSince(start)};
        // Refused at once: still loading. Slow past the limit, or an error: no speed to keep.
        const bool loading = answer.problem == "not answering" && secondsSince(start) < 5;
        if (!loading || SteadyClock::now() >= readyBy) {
            if (problem) *problem = "the server " + answer.problem;
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

std::optional<ModelSpeed> timeModelDecode(ServerKeeperSettings server, DecodeSettings settings,
                                          const std::string& clip, std::string* problem) {
    const auto port = freeLoopbackPort();
    if (!port) {
        if (problem) *problem = "no free loopback port";
        return std::nullopt;
    }
    server.port = *port;
    server.vadModel.clear();
    server.longestPauseSeconds = 1;
    const double ready = server.readySeconds;
    const auto keeper = ServerKeeper::start(server);
    if (!keeper) {
        if (problem) *problem = server.name + " could not start";
        return std::nullopt;
    }
    settings.serverUrl = "http://127.0.0.1:" + std::to_string(*port) + "/inference";
    return timeServerDecode(settings, clip, ready, problem);
}

} // namespace vak
