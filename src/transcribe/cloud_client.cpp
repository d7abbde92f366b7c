#include "transcribe/cloud_client.h"

#include "base/json.h"
#include "transcribe/speech_tools.h"

namespace vak {

std::optional<std::string> runWhisperViaCloud(const std::string& wav, double timeoutSeconds,
                                              const DecodeSettings& settings) {
    if (!settings.config.cloud) return std::nullopt;
    const auto body =
        curlRequest(settings, cloudRequestArguments(settings, wav, timeoutSeconds), timeoutSeconds);
    if (!body) return std::nullopt;
    auto text = jsonStringMember(*body, "text");
    if (!text || text->empty()) return std::nullopt;
    return text;
}

} // namespace vak
