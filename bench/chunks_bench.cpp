// The wait between the stop tap and the transcript of a long dictation with rolling chunks and
// the speculative tail, the decoder calls they make and how busy they keep the decoder, with a
// decoder whose cost has whisper's shape (tools/chunk_replay.h: a model load per call on the
// whisper-cli path, an encoder pass per started 30-second window, a cost per word).
//
// Dictations of 1, 5 and 20 minutes of tone words with natural pauses replay through the chunk
// engine on the daemon's timer schedule in virtual time (audio at real speed, the chunk timer
// every 30 s, the pause check every 2 s, one serial queue: a tick that falls into a decode runs
// late). Every replay must give back exactly the words spoken. For an encoder pass of 0.5, 2 and
// 5 s, on the server path and on the whisper-cli path:
//   after_pause  the dictation ends with a 3 s pause, five more words and the stop 0.3 s later;
//   busy         the stop comes 1 s after the longest decode of the dictation began.
// Prints one table row per case. VAK_BENCH_DETAIL=1 lists every decode of every run.
//
// With arguments, the decoder's cost is a real engine's, measured (bench/engine_latency.sh):
//   vak_bench_chunks ENGINE FIXED PER_SECOND [LABEL]
// ENGINE is whisper (FIXED a call's time, one encoder pass a 30 s window, on the resident server)
// or parakeet (FIXED a call's time, PER_SECOND a second of audio's, no window); the schedule is
// that engine's. Prints rows for 1, 5 and 20 minutes, and the captions' lag: a caption pass
// waits up to one interval (2 s) for its tick and then decodes up to 10 s of audio at the same
// cost.
#include "chunk_replay.h"
#include "tone_words.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::string scratchDir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/vak_bench_chunks_XXXXXX";
        return std::string(::mkdtemp(pattern));
    }();
    return dir;
}

tone::Dictation dictation(int minutes, std::uint32_t seed) {
    tone::DictationPlan plan;
    plan.seconds = minutes * 60.0 - 8;
    plan.seed = seed;
    auto spoken = tone::makeDictation(plan);
    spoken.silence(3.0); // the last pause
    std::vector<std::size_t> words;
    for (std::size_t i = 0; i < 5; ++i)
        words.push_back((seed + 3 * i) % tone::vocabulary().size());
    spoken.say(words);
    spoken.silence(0.3);
    return spoken;
}

struct Figures {
    std::vector<double> afterPause;
    std::vector<double> worst; // both scenarios
    double calls = 0;          // decoder calls of the full dictations
    double busy = 0;           // their modelled decode seconds
    double audio = 0;          // their length
};

// Every word said before the stop came back once, in order; a word the stop cut short (its
// first moments only) may be left out, and one it cut in its last moments may come back cut.
bool sameWords(const vak::ChunkSimResult& result, const tone::Dictation& spoken) {
    auto heard =
        tone::hear(std::span(spoken.samples())
                       .first(static_cast<std::size_t>(result.stopAt * tone::kSampleRate)));
    if (!result.text) return false;
    auto words = tone::wordsOf(*result.text);
    if (words == heard) return true;
    // The stop's last milliseconds of a word: the decoder of the clip may hear it cut.
    if (!words.empty() && words.back() == heard.back() + "~") {
        words.back().pop_back();
        return words == heard;
    }
    if (heard.empty() || heard.back().back() != '~') return false;
    heard.pop_back();
    return words == heard;
}

// With VAK_BENCH_DETAIL, where the words first differ; nothing in any case.
std::nullopt_t mismatch(const vak::ChunkSimResult& result, const tone::Dictation& spoken) {
    if (std::getenv("VAK_BENCH_DETAIL") == nullptr) return std::nullopt;
    const auto said =
        tone::hear(std::span(spoken.samples())
                       .first(static_cast<std::size_t>(result.stopAt * tone::kSampleRate)));
    const auto heard = result.text ? tone::wordsOf(*result.text) : std::vector<std::string>{};
    std::size_t i = 0;
    while (i < said.size() && i < heard.size() && said[i] == heard[i])
        ++i;
    std::printf("  words differ at %zu of %zu said, %zu heard:", i, said.size(), heard.size());
    for (std::size_t j = i; j < i + 4; ++j)
        std::printf(" [%s|%s]", j < said.size() ? said[j].c_str() : "-",
                    j < heard.size() ? heard[j].c_str() : "-");
    std::printf("\n");
    return std::nullopt;
}

void detail(const vak::ChunkSimResult& result, const char* what) {
    if (std::getenv("VAK_BENCH_DETAIL") == nullptr) return;
    std::printf("  %s: stop at %.1f s, waited %.2f s\n", what, result.stopAt, result.wait());
    for (const auto& d : result.decodes)
        std::printf("    %-5s at %7.1f s, %5.1f s of audio, %.2f s\n", d.kind.c_str(), d.startedAt,
                    d.clipSeconds, d.seconds);
}

std::optional<Figures>
measure(int minutes, const replay::DecoderCost& cost, bool cli, int seeds,
        const vak::DecodeCostShape& shape = vak::decodeCostShape(vak::SpeechEngine::Whisper)) {
    Figures figures;
    for (int seed = 1; seed <= seeds; ++seed) {
        const auto spoken = dictation(minutes, static_cast<std::uint32_t>(seed));
        replay::Options options;
        options.scratchDir = scratchDir();
        options.cost = cost;
        options.shape = shape;
        options.stop.decodesEndable = cli;
        const auto full = replay::run(spoken.samples(), options);
        detail(full, "after_pause");
        if (!sameWords(full, spoken)) return mismatch(full, spoken);
        figures.afterPause.push_back(full.wait());
        figures.worst.push_back(full.wait());
        for (const auto& d : full.decodes)
            figures.busy += d.seconds;
        figures.calls += static_cast<double>(full.decodes.size());
        figures.audio += full.stopAt;

        const vak::SimDecode* longest = nullptr;
        for (const auto& d : full.decodes) {
            // The first of equally long ones (the clock's nanoseconds make ties uneven).
            if (d.kind != "tail" && (!longest || d.seconds > longest->seconds + 1e-6)) longest = &d;
        }
        if (!longest) continue;
        options.stop.stopAt = longest->startedAt + 1.0;
        const auto busy = replay::run(spoken.samples(), options);
        detail(busy, "busy");
        if (!sameWords(busy, spoken)) return mismatch(busy, spoken);
        figures.worst.push_back(busy.wait());
    }
    return figures;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

namespace {

// The rows for one measured engine; false when a replay lost or doubled words.
bool measuredRows(int argc, char** argv) {
    const std::string engine = argv[1];
    const double fixed = std::atof(argv[2]);
    const double perSecond = std::atof(argv[3]);
    const std::string label = argc > 4 ? argv[4] : engine;
    const bool parakeet = engine == "parakeet";
    const auto cost = parakeet ? replay::DecoderCost::followingClip(fixed, perSecond)
                               : replay::DecoderCost::whisper(fixed, false);
    const auto shape =
        vak::decodeCostShape(parakeet ? vak::SpeechEngine::Parakeet : vak::SpeechEngine::Whisper);
    const double captionLag = 2 + cost.of(10, 25);
    bool allSame = true;
    for (const int minutes : {1, 5, 20}) {
        const auto figures = measure(minutes, cost, false, minutes == 20 ? 2 : 4, shape);
        if (!figures) {
            allSame = false;
            std::printf("| %s | %d min | words lost or doubled | | | | |\n", label.c_str(),
                        minutes);
            continue;
        }
        std::printf("| %s | %d min | %.2f s | %.2f s | %.1f | %.0f %% | %.1f s |\n", label.c_str(),
                    minutes, median(figures->afterPause),
                    *std::max_element(figures->worst.begin(), figures->worst.end()),
                    figures->calls / (figures->audio / 60), 100 * figures->busy / figures->audio,
                    captionLag);
        std::fflush(stdout);
    }
    return allSame;
}

} // namespace

int main(int argc, char** argv) {
    // The engine logs a line per decode; keep them out of the table.
    const int null = ::open("/dev/null", O_WRONLY);
    const int out = ::dup(STDERR_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::close(null);
    if (argc >= 4) {
        const bool same = measuredRows(argc, argv);
        ::dup2(out, STDERR_FILENO);
        std::filesystem::remove_all(scratchDir());
        return same ? 0 : 1;
    }
    std::printf("| path | encoder pass | dictation | wait after stop: median (last pause < 3 s) "
                "| worst (also: stop 1 s into the longest decode) | decoder calls per minute "
                "| decoder busy, share of the recording | full decode |\n"
                "|---|---|---|---|---|---|---|---|\n");
    bool allSame = true;
    for (const bool cli : {false, true}) {
        for (const double encoder : {0.5, 2.0, 5.0}) {
            const auto cost = replay::DecoderCost::whisper(encoder, cli);
            for (const int minutes : {1, 5, 20}) {
                const auto figures = measure(minutes, cost, cli, minutes == 20 ? 2 : 4);
                if (!figures) {
                    allSame = false;
                    std::printf("| %s | %.1f s | %d min | words lost or doubled | | | | |\n",
                                cli ? "whisper-cli" : "server", encoder, minutes);
                    continue;
                }
                const double audio = figures->audio;
                // A full decode of the dictation: one encoder pass per window, 2.5 words a second.
                const double full = cost.of(audio / (minutes == 20 ? 2 : 4),
                                            static_cast<std::size_t>(minutes * 60 * 2.5));
                std::printf(
                    "| %s | %.1f s | %d min | %.2f s | %.2f s | %.1f | %.0f %% | %.1f s |\n",
                    cli ? "whisper-cli" : "server", encoder, minutes, median(figures->afterPause),
                    *std::max_element(figures->worst.begin(), figures->worst.end()),
                    figures->calls / (audio / 60), 100 * figures->busy / audio, full);
                std::fflush(stdout);
            }
        }
    }
    ::dup2(out, STDERR_FILENO);
    std::filesystem::remove_all(scratchDir());
    return allSame ? 0 : 1;
}
