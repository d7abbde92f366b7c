#include "rewrite/providers.h"

#include "base/files.h"
#include "base/http.h"
#include "base/log.h"
#include "base/subprocess.h"
#include "base/unicode.h"

#include <atomic>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <unistd.h>

namespace vak {

namespace {

using nlohmann::json;

constexpr std::string_view kGroqModel = "llama-3.3-70b-versatile";
constexpr double kClaudeKillGraceSeconds = 2;

// One request's JSON body in a private scratch file, removed with the object. The name carries
// the process id and a per-process number, so calls running at the same time (a command edit
// while a command-line rewrite runs) never share a file.
class RequestBody {
  public:
    static std::optional<RequestBody> write(const RewriteSettings& settings,
                                            std::string_view provider, const json& body) {
        std::string bytes;
        try {
            // Ill-formed UTF-8 from a pasted selection becomes U+FFFD rather than failing.
            bytes = body.dump(-1, ' ', false, json::error_handler_t::replace);
        } catch (const std::exception&) {
            return std::nullopt;
        }
        RequestBody file(settings.scratch.requestBody(provider));
        auto fd = createScratchFile(file.path_);
        if (!fd) {
            file.path_.clear(); // someone else's file may be in the way: never remove it
            return std::nullopt;
        }
        if (!writeAll(fd->get(), bytes)) return std::nullopt;
        return file;
    }

    RequestBody(RequestBody&& other) noexcept : path_(std::exchange(other.path_, {})) {}
    RequestBody& operator=(RequestBody&&) = delete;
    RequestBody(const RequestBody&) = delete;
    RequestBody& operator=(const RequestBody&) = delete;
    ~RequestBody() {
        if (!path_.empty()) removeFile(path_);
    }

    // curl's read-the-body-from-a-file form.
    std::string curlData() const { return "@" + path_; }

  private:
    explicit RequestBody(std::string path) : path_(std::move(path)) {}
    std::string path_;
};

std::optional<json> parseObject(const std::string& text) {
    auto parsed = json::parse(text, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
    return parsed;
}

std::optional<std::string> stringMember(const json& object, const char* key) {
    if (!object.is_object()) return std::nullopt;
    const auto member = object.find(key);
    if (member == object.end() || !member->is_string()) return std::nullopt;
    return member->get<std::string>();
}

// A POST of `body`. A key's header goes to curl on its standard input, never on its argument
// list; without one there is none.
std::optional<std::string> postJson(const RewriteSettings& settings, const std::string& url,
                                    std::optional<std::string> keyHeader,
                                    const std::vector<std::string>& plainHeaders,
                                    const RequestBody& body, double timeoutSeconds) {
    std::vector<std::string> argv = {settings.curl, "-s", "--max-time", curlMaxTime(timeoutSeconds),
                                     "--url",       url};
    CurlOptions options;
    options.maxTimeSeconds = timeoutSeconds;
    if (keyHeader) {
        options.stdinConfig = curlConfigHeaderLine(*keyHeader);
        // A key with a line break cannot be sent as one header.
        if (!options.stdinConfig) return std::nullopt;
        argv.insert(argv.end(), {"--config", "-"});
    }
    for (const auto& header : plainHeaders)
        argv.insert(argv.end(), {"-H", header});
    argv.insert(argv.end(), {"-d", body.curlData()});
    return runCurl(argv, options);
}

// A chat-completions conversation: the instruction as the system message, the text as the user's.
json chatMessages(std::string_view instruction, std::string_view text) {
    return json::array(
        {{{"role", "system"}, {"content", instruction}}, {{"role", "user"}, {"content", text}}});
}

// choices[0].message.content of a chat-completions answer.
std::optional<std::string> chatCompletionText(const std::string& answer) {
    const auto object = parseObject(answer);
    if (!object) return std::nullopt;
    const auto choices = object->find("choices");
    if (choices == object->end() || !choices->is_array() || choices->empty()) return std::nullopt;
    const json& first = choices->front();
    if (!first.is_object()) return std::nullopt;
    const auto message = first.find("message");
    if (message == first.end()) return std::nullopt;
    return stringMember(*message, "content");
}

// Reasoning models served locally open their answer with what they thought; only what follows
// is the rewrite. An answer cut off while still thinking has none.
std::optional<std::string> withoutThinking(std::string text) {
    const auto start = text.find_first_not_of(" \t\r\n");
    constexpr std::string_view kOpen = "<think>", kClose = "</think>";
    if (start == std::string::npos || text.compare(start, kOpen.size(), kOpen) != 0) return text;
    const auto end = text.find(kClose, start);
    if (end == std::string::npos) return std::nullopt;
    return text.substr(end + kClose.size());
}

// Remote text in a log line: one line, and not a novel.
std::string oneLine(std::string_view text) {
    std::string line;
    for (const char c : text)
        line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    if (line.size() > 200) line = sanitizeUtf8(line.substr(0, 200)) + "…";
    return line;
}

} // namespace

std::optional<std::string> polishViaProxy(std::string_view text, double timeoutSeconds,
                                          std::string_view mode, const RewriteSettings& settings) {
    if (settings.proxyToken.empty()) return std::nullopt;
    const json request = {{"mode", mode}, {"text", text}, {"token", settings.proxyToken}};
    const auto body = RequestBody::write(settings, "proxy", request);
    if (!body) return std::nullopt;
    const auto answer = postJson(settings, settings.proxyUrl, std::nullopt,
                                 {"content-type: application/json"}, *body, timeoutSeconds);
    if (!answer) return std::nullopt;
    const auto object = parseObject(*answer);
    if (!object) return std::nullopt;
    if (const auto error = stringMember(*object, "error")) {
        log(LogLevel::info, "proxy rewrite unavailable (" + oneLine(*error) + ")");
        return std::nullopt;
    }
    return stringMember(*object, "text");
}

std::optional<std::string> polishViaAPI(std::string_view text, double timeoutSeconds,
                                        std::string_view instruction,
                                        const RewriteSettings& settings) {
    const json request = {
        {"model", settings.polishModel},
        {"max_tokens", 16000},
        {"messages", json::array({{{"role", "user"},
                                   {"content", std::string(instruction) + "\n\nTranscript:\n" +
                                                   std::string(text)}}})}};
    const auto body = RequestBody::write(settings, "polish", request);
    if (!body) return std::nullopt;
    const auto answer = postJson(
        settings, settings.anthropicUrl, "x-api-key: " + settings.polishKey,
        {"anthropic-version: 2023-06-01", "content-type: application/json"}, *body, timeoutSeconds);
    if (!answer) return std::nullopt;
    const auto object = parseObject(*answer);
    if (!object) return std::nullopt;
    const auto content = object->find("content");
    if (content == object->end() || !content->is_array() || content->empty()) return std::nullopt;
    return stringMember(content->front(), "text");
}

std::optional<std::string> polishViaGroq(std::string_view text, double timeoutSeconds,
                                         std::string_view instruction,
                                         const RewriteSettings& settings) {
    const json request = {{"model", kGroqModel},
                          {"max_tokens", 8192},
                          {"temperature", 0.2},
                          {"messages", chatMessages(instruction, text)}};
    const auto body = RequestBody::write(settings, "polish", request);
    if (!body) return std::nullopt;
    const auto answer =
        postJson(settings, settings.groqUrl, "Authorization: Bearer " + settings.polishKey,
                 {"content-type: application/json"}, *body, timeoutSeconds);
    if (!answer) return std::nullopt;
    return chatCompletionText(*answer);
}

std::optional<std::string> polishViaLocalModel(std::string_view text, double timeoutSeconds,
                                               std::string_view instruction,
                                               const RewriteSettings& settings) {
    if (settings.localUrl.empty()) return std::nullopt;
    json request = {
        {"messages", chatMessages(instruction, text)}, {"temperature", 0.2}, {"stream", false}};
    if (!settings.localModel.empty()) request["model"] = settings.localModel;
    const auto body = RequestBody::write(settings, "local", request);
    if (!body) return std::nullopt;
    std::optional<std::string> keyHeader;
    if (!settings.localKey.empty()) keyHeader = "Authorization: Bearer " + settings.localKey;
    const auto answer = postJson(settings, settings.localUrl, keyHeader,
                                 {"content-type: application/json"}, *body, timeoutSeconds);
    if (!answer) return std::nullopt;
    auto content = chatCompletionText(*answer);
    return content ? withoutThinking(std::move(*content)) : std::nullopt;
}

std::optional<std::string> polishViaClaudeCLI(std::string_view text, double timeoutSeconds,
                                              std::string_view instruction,
                                              const RewriteSettings& settings) {
    if (!pathExists(settings.claudeTool)) return std::nullopt;
    RunOptions options;
    options.timeoutSeconds = timeoutSeconds;
    options.killGraceSeconds = kClaudeKillGraceSeconds;
    options.input = std::string(text);
    const auto result = runProcess(
        {settings.claudeTool, "--model", settings.polishModel, "-p", std::string(instruction)},
        options);
    if (!result || result->timedOut || !result->status.success()) return std::nullopt;
    if (!isValidUtf8(result->output)) return std::nullopt;
    return result->output;
}

std::optional<std::string> rewriteViaProviders(std::string_view text, double timeoutSeconds,
                                               std::string_view mode, std::string_view instruction,
                                               const RewriteSettings& settings) {
    if (auto result = polishViaLocalModel(text, timeoutSeconds, instruction, settings))
        return result;
    if (auto result = polishViaProxy(text, timeoutSeconds, mode, settings)) return result;
    const std::string& key = settings.polishKey;
    if (key.starts_with("gsk_")) {
        if (auto result = polishViaGroq(text, timeoutSeconds, instruction, settings)) return result;
    } else if (!key.empty()) {
        if (auto result = polishViaAPI(text, timeoutSeconds, instruction, settings)) return result;
    }
    return polishViaClaudeCLI(text, timeoutSeconds, instruction, settings);
}

} // namespace vak
