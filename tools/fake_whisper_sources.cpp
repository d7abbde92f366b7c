#include "fake_whisper_sources.h"

#include "tone_words.h"

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

// Hears the tone words in the input file (tone_words.h); nothing for a file it cannot read.
class ToneWords final : public TranscriptSource {
  public:
    std::optional<std::string> transcribe(const DecodeRequest& request) override {
        const auto samples = tone::readWavSamples(request.inputs.back());
        if (!samples) return std::nullopt;
        return tone::transcriptOf(*samples);
    }
};

} // namespace

std::unique_ptr<TranscriptSource> makeTranscriptSource(std::string_view name) {
    if (name.empty() || name == "fixed") return std::make_unique<FixedTranscript>();
    if (name == "tones") return std::make_unique<ToneWords>();
    return nullptr;
}

} // namespace fake
