#include "fake_whisper_sources.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fake {

namespace {

class FixedTranscript final : public TranscriptSource {
  public:
    std::optional<std::string> transcribe(const DecodeRequest& request) override {
        if (const char* text = std::getenv("VAK_FAKE_TRANSCRIPT")) return std::string(text);
        std::ifstream file(request.controlDir + "/transcript.txt", std::ios::binary);
        if (!file) return std::string();
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
};

} // namespace

std::unique_ptr<TranscriptSource> makeTranscriptSource(std::string_view name) {
    if (name.empty() || name == "fixed") return std::make_unique<FixedTranscript>();
    return nullptr;
}

} // namespace fake
