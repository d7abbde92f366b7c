#include "transcribe/cloud_client.h"

#include "base/http.h"
#include "base/json.h"
#include "base/log.h"
#include "base/time_util.h"
#include "transcribe/speech_tools.h"

namespace vak {

namespace {

// The host (and port) of an address, without any "user:password@" written into it.
std::string hostOf(std::string_view url) {
    if (const auto scheme = url.find("://"); scheme != std::string_view::npos)
        url.remove_prefix(scheme + 3);
    url = url.substr(0, url.find_first_of("/?#"));
    if (const auto at = url.rfind('@'); at != std::string_view::npos) url.remove_prefix(at + 1);
    return std::string(url);
}

double steadySeconds() {
    return std::chrono::duration<double>(SteadyClock::now().time_since_epoch()).count();
}

} // namespace

CloudProtocol cloudProtocol(const Config& config) {
    if (!config.cloud) return CloudProtocol::Off;
    return config.transcribeKey.empty() ? CloudProtocol::Brindle : CloudProtocol::OpenAI;
}

std::string cloudEngineSummary(const Config& config) {
    switch (cloudProtocol(config)) {
    case CloudProtocol::Off:
        return "off";
    case CloudProtocol::Brindle:
        return "brindle@" + hostOf(config.transcribeUrl);
    case CloudProtocol::OpenAI:
        return "openai:" + config.transcribeModel + "@" + hostOf(config.transcribeUrl);
    }
    return "off";
}

CloudReachability::CloudReachability(Clock now) : now_(now ? std::move(now) : steadySeconds) {}

bool CloudReachability::worthAsking() const {
    std::lock_guard lock(mutex_);
    return !pausedUntil_ || now_() >= *pausedUntil_;
}

bool CloudReachability::unreachable() {
    std::lock_guard lock(mutex_);
    const double now = now_();
    const bool starts = !pausedUntil_ || now >= *pausedUntil_;
    if (starts) pausedUntil_ = now + kPauseSeconds;
    return starts;
}

void CloudReachability::answered() {
    std::lock_guard lock(mutex_);
    pausedUntil_.reset();
}

bool cloudWorthAsking(const DecodeSettings& settings) {
    return settings.config.cloud &&
           (!settings.cloudReachability || settings.cloudReachability->worthAsking());
}

std::vector<std::string> openAiTranscriptionArguments(const DecodeSettings& settings,
                                                      const std::string& wav,
                                                      double timeoutSeconds) {
    std::vector<std::string> args = {settings.curl,
                                     "-s",
                                     "--max-time",
                                     curlMaxTime(timeoutSeconds),
                                     "--url",
                                     settings.config.transcribeUrl,
                                     "--config",
                                     "-",
                                     "-F",
                                     curlFileField("file", wav),
                                     "--form-string",
                                     "model=" + settings.config.transcribeModel};
    if (settings.config.language != "auto")
        args.insert(args.end(), {"--form-string", "language=" + settings.config.language});
    args.insert(args.end(), {"--form-string", "prompt=" + settings.prompt, "--form-string",
                             "response_format=json"});
    return args;
}

std::optional<std::string> runWhisperViaCloud(const std::string& wav, double timeoutSeconds,
                                              const DecodeSettings& settings) {
    const CloudProtocol protocol = cloudProtocol(settings.config);
    if (protocol == CloudProtocol::Off) return std::nullopt;
    CurlOptions options;
    options.maxTimeSeconds = timeoutSeconds;
    options.backstopSeconds = settings.scaled(2) + 1;
    options.killGraceSeconds = settings.scaled(2);
    std::vector<std::string> args;
    if (protocol == CloudProtocol::OpenAI) {
        options.stdinConfig =
            curlConfigHeaderLine("Authorization: Bearer " + settings.config.transcribeKey);
        if (!options.stdinConfig) return std::nullopt; // a key with a line break: not one header
        args = openAiTranscriptionArguments(settings, wav, timeoutSeconds);
    } else {
        args = cloudRequestArguments(settings, wav, timeoutSeconds);
    }
    const auto result = runCurlProcess(args, options);
    if (!result) return std::nullopt;
    const bool reached = result->status.success() && !result->timedOut;
    if (protocol == CloudProtocol::Brindle && settings.cloudReachability) {
        if (reached) {
            settings.cloudReachability->answered();
        } else if (settings.cloudReachability->unreachable()) {
            log(LogLevel::cloud, "cloud engine at " + hostOf(settings.config.transcribeUrl) +
                                     " could not be reached — left out for a minute wherever "
                                     "local decoding can stand in");
        }
    }
    if (!reached) return std::nullopt;
    auto text = jsonStringMember(result->output, "text");
    if (!text || text->empty()) return std::nullopt;
    return text;
}

} // namespace vak
