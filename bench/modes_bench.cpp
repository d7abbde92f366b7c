// The local writing modes as delivery runs them: localModeTransform on a formatted transcript,
// for every mode, on 300- and 3,000-word transcripts of everyday dictation, on transcripts dense
// with self-corrections (200 cues in 3,000 words), and on the same with no sentence ends at all,
// where every cue falls into one long sentence. The agent mode reads a mode-rules file of 20
// rules on every call, as it does in the daemon.
#include "base/files.h"
#include "foundation/process_values.h"
#include "text/formatting.h"
#include "text/local_modes.h"
#include "text/words.h"

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

// Spoken sentences of messages, rambles, task requests and lists; "#" becomes a number.
const std::vector<std::string> kSentences = {
    "so um I think we should move the meeting to friday because the team needs more time",
    "first we fix the login bug on the settings page",
    "then we update the docs for version #",
    "we decided to ship the beta on monday",
    "remember to email legal about the new contract",
    "the error rate went from # percent to # percent after the fix",
    "it costs # dollars a month, and honestly I think we could charge more, but we should test "
    "it with a small group first",
    "by the way the office move is next week and the boxes arrive on tuesday",
    "can you send the report by thursday",
    "you know, the parser keeps choking on csv files with more than # rows",
    "dont touch the billing code while you are in there",
    "it works when the toggle persists after a restart",
    "the handler lives in routes.ts and currently it fails on empty input",
    "we shipped the new build this morning, and the crash reports dropped to zero overnight",
    "I mean, its fine, but it could be faster, like a lot faster",
    "number two, the deposit is due by # pm on the 15th",
};

// Sentences that each carry a self-correction cue.
const std::vector<std::string> kCorrections = {
    "meet me at # pm no wait # pm at the usual place",
    "we need three chairs, four tables no wait five tables and two lamps for the event",
    "send it to John, actually no, send it to Mary and Sue before the call today",
    "the budget is # dollars scratch that it is # dollars for the whole quarter",
    "put it on tuesday wait no wednesday",
};

std::string withNumbers(const std::string& sentence, std::mt19937& random) {
    std::string out;
    for (char c : sentence) {
        if (c == '#')
            out += std::to_string(1 + random() % 4000);
        else
            out += c;
    }
    return out;
}

struct TranscriptShape {
    std::size_t words = 300;
    std::size_t cues = 0;     // self-correction sentences spread evenly
    bool sentenceEnds = true; // false: one sentence without a period from start to end
};

// A raw transcript of about `shape.words` words as a speech engine returns it.
std::string makeTranscript(const TranscriptShape& shape) {
    std::mt19937 random(17);
    std::string text = shape.sentenceEnds ? "hi sarah. " : "hi sarah ";
    std::size_t count = 2;
    std::size_t cuesPlaced = 0;
    const std::size_t cueEvery = shape.cues == 0 ? 0 : shape.words / shape.cues;
    std::size_t nextCueAt = cueEvery;
    std::size_t i = 0;
    while (count < shape.words) {
        std::string sentence;
        if (cueEvery != 0 && count >= nextCueAt && cuesPlaced < shape.cues) {
            sentence = withNumbers(kCorrections[cuesPlaced % kCorrections.size()], random);
            ++cuesPlaced;
            nextCueAt += cueEvery;
        } else {
            sentence = withNumbers(kSentences[i++ % kSentences.size()], random);
        }
        count += vak::countWords(sentence);
        text += sentence;
        text += shape.sentenceEnds ? ". " : " ";
    }
    text += "thanks";
    return text;
}

class Home {
  public:
    Home() {
        char pattern[] = "/tmp/vak-bench-modes-XXXXXX";
        dir_ = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
        setenv("HOME", dir_.c_str(), 1);
        setenv("LC_ALL", "en_US.UTF-8", 1);
        vak::initProcessValues({"vak_bench_modes"});
        std::string rules = "# mine\n";
        for (int i = 0; i < 20; ++i)
            rules += "context: legacy system " + std::to_string(i) + " = 2\n";
        vak::writeFileAtomic(vak::processValues().dictationDir() + "/mode-rules", rules);
    }
    ~Home() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::string file(const std::string& name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
};

std::string formatted(const Home& home, const TranscriptShape& shape) {
    vak::TranscriptSources sources{
        {home.file("learned"), home.file("candidates")}, home.file("snippets"), nullptr};
    static const vak::SystemWords none;
    sources.commonWords = &none;
    return vak::formatTranscript(makeTranscript(shape), sources).text;
}

void runMode(benchmark::State& state, const std::string& text, vak::DeliverMode mode) {
    for (auto _ : state)
        benchmark::DoNotOptimize(vak::localModeTransform(text, mode));
    state.counters["words"] = static_cast<double>(vak::countWords(text));
    state.counters["per_word"] = benchmark::Counter(static_cast<double>(vak::countWords(text)),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

} // namespace

int main(int argc, char** argv) {
    const Home home;
    struct Input {
        const char* name;
        TranscriptShape shape;
    };
    const Input inputs[] = {
        {"everyday/300", {300, 0, true}},       {"everyday/3000", {3000, 0, true}},
        {"corrections/300", {300, 20, true}},   {"corrections/3000", {3000, 200, true}},
        {"unpunctuated/300", {300, 20, false}}, {"unpunctuated/3000", {3000, 200, false}},
    };
    static std::vector<std::string> texts; // alive while the benchmarks run
    texts.reserve(std::size(inputs));
    for (const Input& input : inputs)
        texts.push_back(formatted(home, input.shape));
    for (vak::DeliverMode mode : {vak::DeliverMode::professional, vak::DeliverMode::summarize,
                                  vak::DeliverMode::agent, vak::DeliverMode::expand}) {
        for (std::size_t i = 0; i < std::size(inputs); ++i) {
            const std::string name =
                "BM_" + std::string(vak::configValue(mode)) + "/" + inputs[i].name;
            const std::string* text = &texts[i];
            benchmark::RegisterBenchmark(name.c_str(), [text, mode](benchmark::State& state) {
                runMode(state, *text, mode);
            })->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
