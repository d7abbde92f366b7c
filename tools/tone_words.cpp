#include "tone_words.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>

namespace tone {

namespace {

// Plain words that the transcript formatting leaves as they are (no spoken commands, no
// hesitations, no brand names, no numbers).
constexpr std::array<std::string_view, 40> kWords = {
    "apple",  "river",  "stone",   "garden", "window", "yellow", "purple", "basket",
    "candle", "forest", "island",  "ladder", "marble", "meadow", "orange", "pepper",
    "rocket", "silver", "tiger",   "violin", "wagon",  "anchor", "bottle", "copper",
    "dragon", "engine", "feather", "harbor", "jacket", "kettle", "lemon",  "mirror",
    "needle", "paddle", "saddle",  "tunnel", "velvet", "walnut", "zebra",  "pillow",
};

constexpr double kPi = 3.14159265358979323846;
constexpr std::size_t kFrame = 160;      // 10 ms
constexpr double kSoundRms = 1500;       // a frame louder than this belongs to a burst
constexpr std::size_t kWholeFrames = 22; // a nominal burst covers 23 to 25 frames
constexpr double kRampSeconds = 0.01;
constexpr std::size_t kProbeSamples = 1024; // 16 Hz resolution against 55 Hz between words

double frameRms(std::span<const std::int16_t> samples) {
    if (samples.empty()) return 0;
    double sum = 0;
    for (const auto s : samples)
        sum += static_cast<double>(s) * s;
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

// Power of one frequency in the samples (Goertzel).
double powerAt(std::span<const std::int16_t> samples, double frequency) {
    const double coefficient = 2 * std::cos(2 * kPi * frequency / kSampleRate);
    double previous = 0;
    double beforePrevious = 0;
    for (const auto s : samples) {
        const double current = s + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return previous * previous + beforePrevious * beforePrevious -
           coefficient * previous * beforePrevious;
}

std::size_t loudestWord(std::span<const std::int16_t> samples) {
    std::size_t best = 0;
    double bestPower = -1;
    for (std::size_t w = 0; w < kWords.size(); ++w) {
        const double power = powerAt(samples, frequencyOf(w));
        if (power > bestPower) {
            bestPower = power;
            best = w;
        }
    }
    return best;
}

std::uint32_t readLe32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

} // namespace

std::span<const std::string_view> vocabulary() {
    return kWords;
}

double frequencyOf(std::size_t word) {
    return 400.0 + 55.0 * static_cast<double>(word);
}

Dictation::Dictation(Voice voice, std::uint32_t noiseSeed)
    : voice_(voice), noiseState_(noiseSeed == 0 ? 1 : noiseSeed) {}

void Dictation::append(double seconds, std::optional<double> frequency) {
    const auto count = static_cast<std::size_t>(std::lround(seconds * kSampleRate));
    const auto ramp = static_cast<double>(kRampSeconds * kSampleRate);
    for (std::size_t i = 0; i < count; ++i) {
        // A small linear-congruential generator: the same noise on every platform.
        noiseState_ = noiseState_ * 1664525u + 1013904223u;
        const double noise =
            voice_.noise *
            (static_cast<double>(noiseState_ >> 8) / static_cast<double>(1u << 24) * 2 - 1);
        double value = noise;
        if (frequency) {
            const auto t = static_cast<double>(i);
            const double edge = std::min(t, static_cast<double>(count - 1) - t);
            const double envelope = edge >= ramp ? 1.0 : 0.5 * (1 - std::cos(kPi * edge / ramp));
            value += voice_.amplitude * envelope * std::sin(2 * kPi * *frequency * t / kSampleRate);
        }
        samples_.push_back(static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0)));
    }
}

void Dictation::say(std::span<const std::size_t> words) {
    for (const auto word : words) {
        const std::size_t first = samples_.size();
        append(voice_.wordSeconds, frequencyOf(word));
        words_.push_back({word, first, samples_.size()});
        append(voice_.gapSeconds, std::nullopt);
    }
}

void Dictation::silence(double seconds) {
    append(seconds, std::nullopt);
}

std::string Dictation::text() const {
    std::string text;
    for (const auto& spoken : words_) {
        if (!text.empty()) text += ' ';
        text += kWords.at(spoken.word);
    }
    return text;
}

std::string Dictation::pcmBytes() const {
    std::string bytes;
    bytes.reserve(samples_.size() * 2);
    for (const auto s : samples_) {
        const auto u = static_cast<std::uint16_t>(s);
        bytes += static_cast<char>(u & 0xff);
        bytes += static_cast<char>(u >> 8);
    }
    return bytes;
}

std::string Dictation::wavBytes() const {
    const auto le = [](std::uint32_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((value >> (8 * i)) & 0xff);
        return out;
    };
    const auto dataBytes = static_cast<std::uint32_t>(samples_.size() * 2);
    return "RIFF" + le(dataBytes + 36, 4) + "WAVE" + "fmt " + le(16, 4) + le(1, 2) + le(1, 2) +
           le(kSampleRate, 4) + le(kSampleRate * 2, 4) + le(2, 2) + le(16, 2) + "data" +
           le(dataBytes, 4) + pcmBytes();
}

Dictation makeDictation(const DictationPlan& plan, Voice voice) {
    Dictation dictation(voice, plan.seed * 2654435761u + 1);
    std::minstd_rand random(plan.seed == 0 ? 1 : plan.seed);
    const auto uniform = [&random] {
        return static_cast<double>(random() - std::minstd_rand::min()) /
               static_cast<double>(std::minstd_rand::max() - std::minstd_rand::min());
    };
    const auto pick = [&random](int count) {
        return static_cast<int>((random() - std::minstd_rand::min()) %
                                static_cast<unsigned>(std::max(count, 1)));
    };

    dictation.silence(plan.leadingSilence);
    std::size_t previous = kWords.size();
    int phrase = 0;
    while (dictation.seconds() < plan.seconds) {
        const int count = plan.minWords + pick(plan.maxWords - plan.minWords + 1);
        std::vector<std::size_t> words;
        for (int i = 0; i < count; ++i) {
            std::size_t word = 0;
            do {
                word = static_cast<std::size_t>(pick(static_cast<int>(kWords.size())));
            } while (word == previous);
            words.push_back(word);
            previous = word;
        }
        dictation.say(words);
        ++phrase;
        if (!plan.pauses || dictation.seconds() >= plan.seconds) continue;
        const bool longOne = plan.longPauseEvery > 0 &&
                             pick(static_cast<int>(std::lround(plan.longPauseEvery))) == 0;
        dictation.silence(longOne ? plan.longPause
                                  : plan.minPause + (plan.maxPause - plan.minPause) * uniform());
    }
    dictation.silence(plan.trailingSilence);
    return dictation;
}

std::vector<std::string> hear(std::span<const std::int16_t> samples) {
    const std::size_t frames = (samples.size() + kFrame - 1) / kFrame;
    std::vector<bool> sound(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::size_t first = f * kFrame;
        sound[f] =
            frameRms(samples.subspan(first, std::min(kFrame, samples.size() - first))) > kSoundRms;
    }
    std::vector<std::string> heard;
    for (std::size_t f = 0; f < frames;) {
        if (!sound[f]) {
            ++f;
            continue;
        }
        const std::size_t begin = f;
        while (f < frames && sound[f])
            ++f;
        // The middle of the burst names the word; its length tells whether it was cut.
        const std::size_t first = begin * kFrame;
        const std::size_t end = std::min(f * kFrame, samples.size());
        const std::size_t probe = std::min<std::size_t>(end - first, kProbeSamples);
        const auto middle = samples.subspan(first + (end - first - probe) / 2, probe);
        std::string word(kWords.at(loudestWord(middle)));
        if (f - begin < kWholeFrames) word += '~';
        heard.push_back(std::move(word));
    }
    return heard;
}

std::string transcriptOf(std::span<const std::int16_t> samples) {
    const auto words = hear(samples);
    if (words.empty()) return "[BLANK_AUDIO]\n";
    std::string text;
    for (const auto& word : words)
        text += " " + word;
    return text + "\n";
}

std::optional<std::vector<std::int16_t>> readWavSamples(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(std::max<std::streamoff>(file.tellg(), 0)), '\0');
    file.seekg(0);
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t head = std::min<std::size_t>(bytes.size(), 8192);
    if (head < 44 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0)
        return std::nullopt;
    std::size_t offset = 12;
    for (;;) {
        if (offset + 8 > head) return std::nullopt;
        const std::size_t size = readLe32(data + offset + 4);
        if (std::memcmp(data + offset, "data", 4) == 0) {
            offset += 8;
            break;
        }
        if (size > head) return std::nullopt;
        offset += 8 + size + (size & 1);
    }
    std::vector<std::int16_t> samples((bytes.size() - offset) / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(
            data[offset + 2 * i] | static_cast<unsigned>(data[offset + 2 * i + 1]) << 8));
    }
    return samples;
}

std::vector<std::string> wordsOf(std::string_view transcript) {
    std::vector<std::string> words;
    std::string token;
    const auto flush = [&] {
        const bool tag = token.size() >= 2 && token.front() == '[' && token.back() == ']';
        std::string word;
        if (!tag) {
            for (const char c : token) {
                const auto lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                if ((lower >= 'a' && lower <= 'z') || lower == '~') word += lower;
            }
        }
        if (!word.empty()) words.push_back(std::move(word));
        token.clear();
    };
    for (const char c : transcript) {
        if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            flush();
        } else {
            token += c;
        }
    }
    flush();
    return words;
}

} // namespace tone
