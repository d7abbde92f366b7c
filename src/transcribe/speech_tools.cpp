#include "transcribe/speech_tools.h"

#include "base/environment.h"
#include "base/json.h"
#include "platform/host.h"
#include "transcribe/engine_threads.h"
#include "transcribe/tool_report.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace vak {

std::string localServerUrl() {
    static const std::string url = envValueOr(Env::WhisperServerUrl, kDefaultServerUrl);
    return url;
}

std::string captionServerUrl() {
    static const std::string url = envValueOr(Env::CaptionServerUrl, kDefaultCaptionServerUrl);
    return url;
}

std::string_view platformName() {
    return host().requestPlatform;
}

std::string_view preprocessFilterChain(const Config& config) {
    if (config.whisperMode) return "highpass=f=80,afftdn=nf=-20:tn=1,speechnorm=e=25:r=0.0002:l=1";
    if (config.callMode)
        return "highpass=f=80,afftdn=nf=-20:tn=1,dynaudnorm=f=150:g=21:p=0.95:m=20";
    return "highpass=f=70,afftdn=nf=-25:tn=1,dynaudnorm=f=200:g=15:p=0.9:m=10";
}

std::string vadThresholdText(const Config& config) {
    return formatDecimal(config.effectiveVadThreshold());
}

std::string curlFileField(std::string_view name, std::string_view path) {
    std::string field = std::string(name) + "=@";
    if (path.find_first_of(";,\"\\") == std::string_view::npos) return field + std::string(path);
    field += '"';
    for (const char c : path) {
        if (c == '"' || c == '\\') field += '\\';
        field += c;
    }
    field += '"';
    return field;
}

std::vector<std::string> whisperCliArguments(const DecodeSettings& settings, const std::string& wav,
                                             const std::string& txtBase,
                                             std::vector<std::string>* missing) {
    std::vector<OptionGroup> groups = {{"-m", {settings.model}},
                                       {"-f", {wav}},
                                       {"-l", {settings.config.language}},
                                       {"-nt", {}},
                                       {"-otxt", {}},
                                       {"-of", {txtBase}},
                                       {"-mc", {"128"}},
                                       {"-et", {"2.8"}},
                                       {"-bs", {"5"}},
                                       {"-bo", {"5"}},
                                       {"-sns", {}},
                                       {"--prompt", {settings.prompt}},
                                       {"--carry-initial-prompt", {}}};
    if (settings.threads > 0) groups.push_back({"-t", {std::to_string(settings.threads)}});
    if (settings.vadModelPresent()) {
        groups.push_back(
            {"--vad", {"-vm", settings.vadModel, "-vt", vadThresholdText(settings.config)}});
    }
    return argumentsFor(settings.whisperCli, groups, settings.cliOptions.get(), missing);
}

// Text fields go through --form-string: with -F a value starting with "@" or "<" would make
// curl upload a local file, and ";type=" inside one would be taken as a parameter.
std::vector<std::string> captionCliArguments(const std::string& whisperCli,
                                             const std::string& model, const std::string& wav,
                                             const std::string& txtBase) {
    return {whisperCli,
            "-m",
            model,
            "-f",
            wav,
            "-l",
            "en",
            "-nt",
            "-otxt",
            "-of",
            txtBase,
            "-bs",
            "1",
            "-bo",
            "1",
            "-t",
            std::to_string(engineThreads(true).captions)};
}

std::vector<std::string> captionServerArguments(const std::string& curl, const std::string& url,
                                                const std::string& wav, double timeoutSeconds) {
    std::vector<std::string> args = {curl,          "-s",
                                     "--max-time",  curlMaxTime(timeoutSeconds),
                                     "--url",       url,
                                     "--write-out", "\\n%{http_code}",
                                     "-F",          curlFileField("file", wav)};
    // captionCliArguments' decode; the server's start-up values (no prompt, no voice gate) do
    // the rest.
    for (const char* field :
         {"response_format=json", "language=en", "no_timestamps=true", "beam_size=1", "best_of=1"})
        args.insert(args.end(), {"--form-string", field});
    return args;
}

std::vector<std::string> serverRequestArguments(const DecodeSettings& settings,
                                                const std::string& wav, double timeoutSeconds,
                                                bool withVad) {
    std::vector<std::string> args = {
        settings.curl, "-s", "--max-time", curlMaxTime(timeoutSeconds), "--url", settings.serverUrl,
        // The status follows the body on a line of its own
        // (curl turns the backslash-n into a line break).
        "--write-out", "\\n%{http_code}", "-F", curlFileField("file", wav)};
    // The decode whisper-cli makes: the server resets every field to its own start-up values
    // (greedy search among them) for each request that does not send it.
    std::vector<std::string> fields = {"response_format=json",
                                       "language=" + settings.config.language,
                                       "prompt=" + settings.prompt,
                                       "carry_initial_prompt=true",
                                       "no_timestamps=true",
                                       "max_context=128",
                                       "entropy_thold=2.8",
                                       "beam_size=5",
                                       "best_of=5",
                                       "suppress_nst=true"};
    if (withVad) {
        fields.push_back("vad=true");
        fields.push_back("vad_threshold=" + vadThresholdText(settings.config));
    }
    for (auto& field : fields)
        args.insert(args.end(), {"--form-string", std::move(field)});
    return args;
}

std::vector<std::string> cloudRequestArguments(const DecodeSettings& settings,
                                               const std::string& wav, double timeoutSeconds) {
    return {settings.curl,
            "-s",
            "--max-time",
            curlMaxTime(timeoutSeconds),
            "--url",
            settings.config.transcribeUrl,
            "--form-string",
            "platform=" + std::string(platformName()),
            "-F",
            curlFileField("file", wav),
            "--form-string",
            "language=" + settings.config.language,
            "--form-string",
            "prompt=" + settings.prompt};
}

// "file:" keeps a path with a colon from being read as a protocol, and one starting with "-"
// from being read as an option.
std::vector<std::string> ffmpegArguments(const DecodeSettings& settings, const std::string& input,
                                         const std::string& output) {
    return {settings.ffmpeg,
            "-hide_banner",
            "-loglevel",
            "error",
            "-y",
            "-i",
            "file:" + input,
            "-af",
            std::string(preprocessFilterChain(settings.config)),
            "-ar",
            "16000",
            "-ac",
            "1",
            "-c:a",
            "pcm_s16le",
            "file:" + output};
}

ServerReply askWhisperServer(const std::vector<std::string>& arguments,
                             const CurlOptions& options) {
    ServerReply reply;
    const auto run = runCurlProcess(arguments, options);
    if (!run) return reply;
    reply.cancelled = run->cancelled;
    if (!run->status.success()) {
        // 28: curl's own time limit; the backstop stops only a curl that overruns it.
        reply.timedOut = run->timedOut || (run->status.exited() && run->status.code == 28);
        return reply;
    }
    // The status follows the body on a line of its own (--write-out).
    const std::string& output = run->output;
    const auto split = output.rfind('\n');
    const std::string body = split == std::string::npos ? "" : output.substr(0, split);
    reply.status = output.substr(split == std::string::npos ? 0 : split + 1);
    if (reply.status == "200") reply.text = jsonStringMember(body, "text");
    if (!reply.text) {
        const std::string message = jsonStringMember(body, "error").value_or(body);
        reply.message = message.substr(0, std::min<std::size_t>(message.find('\n'), 200));
    }
    return reply;
}

} // namespace vak
