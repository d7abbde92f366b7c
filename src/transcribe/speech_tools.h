#pragma once

#include "base/http.h"
#include "foundation/config.h"
#include "transcribe/decode_settings.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// How the outside speech tools are called: whisper-cli, the resident whisper-server, the cloud
// transcription service (both through curl) and ffmpeg. Argument lists only; no shell anywhere.

inline constexpr std::string_view kDefaultServerUrl = "http://127.0.0.1:8977/inference";
inline constexpr std::string_view kDefaultCaptionServerUrl = "http://127.0.0.1:8978/inference";

// The local server's endpoint: $VAK_WHISPER_SERVER_URL when set (tests), else the loopback
// default. Read once.
std::string localServerUrl();
// The live captions' own server, holding the caption model: $VAK_CAPTION_SERVER_URL when set,
// else the loopback default. Read once.
std::string captionServerUrl();

// The "platform" form field of cloud requests.
std::string_view platformName();

// ffmpeg filter chain for the mode: quiet voice, phone audio, or normal.
std::string_view preprocessFilterChain(const Config& config);

// The "-vt" value: the effective voice gate in shortest decimal form.
std::string vadThresholdText(const Config& config);

// A "-F" file field. The path is quoted when curl's form syntax would otherwise split it
// (";" and "," start parameters and file lists).
std::string curlFileField(std::string_view name, std::string_view path);

// Options this whisper-cli lacks (by its --help) are left out and named in `missing`.
std::vector<std::string> whisperCliArguments(const DecodeSettings& settings, const std::string& wav,
                                             const std::string& txtBase,
                                             std::vector<std::string>* missing = nullptr);
// The live-caption decode: the small English model, greedy search, no prompt and no voice gate.
std::vector<std::string> captionCliArguments(const std::string& whisperCli,
                                             const std::string& model, const std::string& wav,
                                             const std::string& txtBase);
// The same decode asked of a resident server that holds the caption model.
std::vector<std::string> captionServerArguments(const std::string& curl, const std::string& url,
                                                const std::string& wav, double timeoutSeconds);
// The server request: the fields of whisper-cli's decode; with `withVad` the voice gate too.
std::vector<std::string> serverRequestArguments(const DecodeSettings& settings,
                                                const std::string& wav, double timeoutSeconds,
                                                bool withVad);
std::vector<std::string> cloudRequestArguments(const DecodeSettings& settings,
                                               const std::string& wav, double timeoutSeconds);
std::vector<std::string> ffmpegArguments(const DecodeSettings& settings, const std::string& input,
                                         const std::string& output);

// What a whisper-server made of one request.
struct ServerReply {
    std::optional<std::string> text; // "text" of a 200 answer, possibly empty
    std::string status;              // the HTTP status; empty when nothing answered
    std::string message;             // an error answer's "error", else its first line
    bool timedOut = false;           // curl stopped waiting: the server is there but slow
    bool cancelled = false;          // ended through CurlOptions::cancel: no answer wanted
};
// Runs a request made by serverRequestArguments or captionServerArguments (its --max-time is
// options.maxTimeSeconds) under a backstop watchdog.
ServerReply askWhisperServer(const std::vector<std::string>& arguments, const CurlOptions& options);

} // namespace vak
