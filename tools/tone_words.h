#pragma once

// Speech that a test can read back exactly: every word is a short tone burst whose frequency
// names it, words are separated by short gaps and phrases by longer pauses, over a faint noise
// floor. The fake whisper-cli "hears" such audio (tone_words.cpp) and writes the words, so a
// test can replay a dictation through the transcription engines and compare the assembled
// transcript with what was "said". A burst cut short (a chunk boundary through a word) is heard
// as the word followed by "~", so a word cut in two shows up on both sides of the cut.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tone {

inline constexpr int kSampleRate = 16000;

// The vocabulary: 40 ordinary words, each on its own frequency.
std::span<const std::string_view> vocabulary();
double frequencyOf(std::size_t word);

struct Voice {
    double wordSeconds = 0.24; // one burst
    double gapSeconds = 0.12;  // between the words of a phrase
    double amplitude = 8000;   // peak, raw sample units
    double noise = 60;         // peak of the noise floor (RMS about a third of it)
};

struct SpokenWord {
    std::size_t word = 0; // index into vocabulary()
    std::size_t firstSample = 0;
    std::size_t endSample = 0; // one past the last sample of the burst
};

// Audio with the words it holds, in order.
class Dictation {
  public:
    explicit Dictation(Voice voice = {}, std::uint32_t noiseSeed = 1);

    // One phrase: the words with short gaps between them, and a gap after the last.
    void say(std::span<const std::size_t> words);
    void silence(double seconds);

    const std::vector<std::int16_t>& samples() const { return samples_; }
    const std::vector<SpokenWord>& words() const { return words_; }
    double seconds() const { return static_cast<double>(samples_.size()) / kSampleRate; }
    // The words as text, separated by single blanks.
    std::string text() const;
    // Little-endian 16-bit sample bytes, as they follow a WAV header.
    std::string pcmBytes() const;
    // A complete 16 kHz mono 16-bit WAV file of the audio.
    std::string wavBytes() const;

  private:
    void append(double seconds, std::optional<double> frequency);

    Voice voice_;
    std::uint32_t noiseState_;
    std::vector<std::int16_t> samples_;
    std::vector<SpokenWord> words_;
};

struct DictationPlan {
    double seconds = 120;         // speak until at least this long
    std::uint32_t seed = 1;       // picks the words and the pauses
    int minWords = 3;             // per phrase
    int maxWords = 12;            //
    double minPause = 0.6;        // between phrases, seconds
    double maxPause = 2.5;        //
    double longPauseEvery = 6;    // about one phrase in this many is followed by a long pause
    double longPause = 4.0;       // seconds
    double leadingSilence = 0.5;  // before the first word
    double trailingSilence = 0.5; // after the last word
    bool pauses = true;           // false: one monologue with only the gaps between words
};

// A dictation of natural phrases with pauses (or a monologue), never the same word twice in a
// row, deterministic for a seed.
Dictation makeDictation(const DictationPlan& plan, Voice voice = {});

// What the fake decoder hears in 16 kHz samples: one entry per burst, "~" appended to a burst
// that is cut short.
std::vector<std::string> hear(std::span<const std::int16_t> samples);
// The same as whisper-cli would write it: " word word\n", or "[BLANK_AUDIO]\n" for silence.
std::string transcriptOf(std::span<const std::int16_t> samples);

// The samples of a 16 kHz mono 16-bit WAV file (its data chunk located by walking the chunks,
// read to the end of the file); nothing when the file is not such a WAV.
std::optional<std::vector<std::int16_t>> readWavSamples(const std::string& path);

// Splits a transcript into words: lower case, punctuation other than "~" dropped, bracketed
// engine tags ("[BLANK_AUDIO]") left out.
std::vector<std::string> wordsOf(std::string_view transcript);

} // namespace tone
