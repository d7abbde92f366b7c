// The transcript pipeline as a dictation runs it: both user files read on every call, against a
// dictionary of 200 entries and 50 snippets; and the sound-alike pass alone for growing
// dictionaries.
#include "text/formatting.h"
#include "text/sound_alike.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

// Invented names, far from every ordinary word, so the sound-alike stage searches but never
// rewrites the files while the benchmark runs.
std::string inventedName(std::mt19937& random) {
    static const char* onsets[] = {"zh", "kv", "qu", "x", "vr", "dz", "gl", "tw", "pf", "sk"};
    static const char* vowels[] = {"a", "o", "ei", "u", "ya", "oo"};
    static const char* codas[] = {"nx", "lq", "rv", "zt", "mph", "kk"};
    std::string name;
    for (int part = 0; part < 2; ++part) {
        name += onsets[random() % 10];
        name += vowels[random() % 6];
        name += codas[random() % 6];
    }
    name[0] = static_cast<char>(name[0] - 'a' + 'A');
    return name;
}

struct Dictionary {
    std::string text;
    std::vector<std::string> variants; // spoken forms the exact stage replaces
};

// `entries` lines, every third one a two-word name, most with one or two variants.
Dictionary makeDictionary(std::size_t entries) {
    std::mt19937 random(7);
    Dictionary d;
    std::vector<std::string> names;
    // Names that sound alike would correct one another; keep only distinct ones.
    auto distinctName = [&] {
        for (;;) {
            std::string name = inventedName(random);
            bool clash = false;
            for (const std::string& other : names)
                clash = clash || vak::wordsSoundClose(name, other);
            if (!clash) {
                names.push_back(name);
                return name;
            }
        }
    };
    for (std::size_t i = 0; i < entries; ++i) {
        std::string canonical = distinctName();
        if (i % 3 == 0) canonical += " " + distinctName();
        std::string line = canonical;
        if (i % 4 != 3) {
            std::string variant = "vq" + std::to_string(i) + "x";
            line += "|" + variant;
            d.variants.push_back(variant);
            if (i % 2 == 0) line += ",vq" + std::to_string(i) + "y";
        }
        d.text += line + "\n";
    }
    return d;
}

std::string makeSnippets(std::size_t count) {
    std::string text = "# snippets\n";
    for (std::size_t i = 0; i < count; ++i)
        text += "sig" + std::to_string(i) + " = Best regards,\\nSam " + std::to_string(i) + "\n";
    return text;
}

// A transcript of `words` words: everyday speech with hesitations, sentence ends, spoken layout
// commands, brand names, dictionary variants and a snippet now and then.
std::string makeTranscript(std::size_t words, const Dictionary& dictionary) {
    static const char* vocabulary[] = {
        "so",   "I",      "think",     "we",      "should", "move",    "the",  "meeting",
        "to",   "friday", "because",   "the",     "team",   "needs",   "more", "time",
        "for",  "review", "and",       "then",    "we",     "can",     "ship", "it",
        "next", "week",   "after",     "testing", "on",     "staging", "with", "real",
        "data", "from",   "customers", "who",     "asked",  "about",   "this", "feature",
        "last", "month",  "it's",      "working", "pretty", "well",    "now",  "honestly"};
    constexpr std::size_t kVocabulary = sizeof vocabulary / sizeof *vocabulary;
    std::mt19937 random(11);
    std::string text;
    for (std::size_t i = 0; i < words; ++i) {
        if (i > 0) text += ' ';
        const std::uint32_t roll = random() % 100;
        if (roll < 3) {
            text += "um";
        } else if (roll < 5) {
            text += "git hub";
        } else if (roll < 7 && !dictionary.variants.empty()) {
            text += dictionary.variants[random() % dictionary.variants.size()];
        } else if (roll == 7) {
            text += "snippet sig" + std::to_string(random() % 50);
        } else {
            text += vocabulary[random() % kVocabulary];
        }
        if (i % 17 == 16) text += '.';
        if (i % 97 == 96) text += " new line";
    }
    return text;
}

class Files {
  public:
    Files() {
        char pattern[] = "/tmp/vak-bench-XXXXXX";
        dir_ = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    }
    ~Files() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::string write(const std::string& name, const std::string& content) const {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        return path;
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
};

void BM_FormatTranscript(benchmark::State& state) {
    const Files files;
    const Dictionary dictionary = makeDictionary(200);
    vak::TranscriptSources sources;
    sources.learned = {files.write("learned-words.txt", dictionary.text),
                       files.path(".variant-candidates")};
    sources.snippets = files.write("snippets", makeSnippets(50));
    const std::string transcript =
        makeTranscript(static_cast<std::size_t>(state.range(0)), dictionary);
    benchmark::DoNotOptimize(vak::formatTranscript(transcript, sources)); // word list, caches
    bool corrected = false;
    for (auto _ : state)
        corrected = !vak::formatTranscript(transcript, sources).notes.empty() || corrected;
    if (corrected) state.SkipWithError("a sound-alike correction fired; the text is not typical");
    state.counters["per_word"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}
BENCHMARK(BM_FormatTranscript)->Arg(150)->Arg(1500)->Arg(15000)->Unit(benchmark::kMillisecond);

void BM_FuzzyLearnedPass(benchmark::State& state) {
    const Dictionary dictionary = makeDictionary(static_cast<std::size_t>(state.range(0)));
    const vak::SoundAlikeCorrector corrector(vak::parseLearnedWords(dictionary.text));
    const std::string transcript = makeTranscript(1500, makeDictionary(0));
    bool corrected = false;
    for (auto _ : state)
        corrected =
            !corrector.correct(transcript, vak::SystemWords::common()).notes.empty() || corrected;
    if (corrected) state.SkipWithError("a sound-alike correction fired; the text is not typical");
    state.counters["per_entry"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}
BENCHMARK(BM_FuzzyLearnedPass)->Arg(1)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
