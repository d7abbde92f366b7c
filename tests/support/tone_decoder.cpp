#include "support/tone_decoder.h"

#include "tone_words.h"

namespace vak::test {

ChunkEngine::Transcribe ToneDecoder::transcribe() const {
    return [state = state_](const std::string& wav,
                            const std::string& base) -> std::optional<std::string> {
        const auto samples = tone::readWavSamples(wav);
        HeardClip clip;
        clip.file = wav.substr(wav.rfind('/') + 1);
        const std::string suffix = base.substr(base.rfind('_') + 1);
        clip.kind = suffix == "spec" || suffix == "tail" ? suffix : "chunk";
        clip.route = decodeRoute.load();
        if (samples) {
            clip.seconds = static_cast<double>(samples->size()) / tone::kSampleRate;
            clip.text = tone::transcriptOf(*samples);
        }
        std::lock_guard lock(state->mutex);
        const bool fail = clip.kind == "chunk" && state->failing.count(state->chunks++) > 0;
        state->clips.push_back(clip);
        if (fail || !samples) return std::nullopt;
        return clip.text;
    };
}

std::vector<HeardClip> ToneDecoder::clips() const {
    std::lock_guard lock(state_->mutex);
    return state_->clips;
}

std::vector<std::string> ToneDecoder::kinds() const {
    std::vector<std::string> kinds;
    for (const auto& clip : clips())
        kinds.push_back(clip.kind);
    return kinds;
}

void ToneDecoder::failChunk(int n) const {
    std::lock_guard lock(state_->mutex);
    state_->failing.insert(n);
}

} // namespace vak::test
