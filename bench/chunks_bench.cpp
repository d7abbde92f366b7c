// The wait between the stop tap and the transcript of a long dictation, with rolling chunks and
// the speculative tail, against one decode of the whole recording.
//
// Dictations of 1, 5 and 20 minutes of tone words with natural pauses replay through the chunk
// engine on the daemon's timer schedule (tools/chunk_replay.h): audio at real speed, the chunk
// timer every 30 s, the pause check every 2 s, and a decoder that takes 0.3 s + 0.15 s per second
// of clip and keeps the engine's queue busy meanwhile. Decode time is modelled, not slept, so a
// 20-minute dictation replays in seconds; the engine's own work at the stop is measured for real.
// Every replay must give back exactly the words spoken.
//
// Scenarios, each over several seeds (different words, pauses and tick alignments):
//   after_pause  the dictation ends with a 3 s pause, five more words and the stop 0.3 s later:
//                the last pause was less than 3 s before the stop;
//   zero_wait    the same, then silence; the stop comes 0.5 s after the pre-decode of that
//                silence has finished;
//   busy         the stop comes 1 s after the longest decode of the dictation began (the worst
//                moment: that decode has to end first).
// The time reported per iteration is the wait after the stop; full_decode_s is what a single
// decode of the same recording would take. VAK_BENCH_DETAIL=1 lists every decode of every run.
#include "chunk_replay.h"
#include "tone_words.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

enum class Scenario { AfterPause, ZeroWait, Busy };

const char* nameOf(Scenario scenario) {
    switch (scenario) {
    case Scenario::AfterPause:
        return "after_pause";
    case Scenario::ZeroWait:
        return "zero_wait";
    case Scenario::Busy:
        return "busy";
    }
    return "";
}

struct Figures {
    std::vector<double> waits;
    double fullDecode = 0;
};

// (minutes, scenario) → the waits of every seed, for the table printed at the end.
std::map<std::pair<int, Scenario>, Figures>& table() {
    static std::map<std::pair<int, Scenario>, Figures> figures;
    return figures;
}

std::string scratchDir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/vak_bench_chunks_XXXXXX";
        return std::string(::mkdtemp(pattern));
    }();
    return dir;
}

tone::Dictation dictation(int minutes, std::uint32_t seed, Scenario scenario, double& lastWordEnd) {
    tone::DictationPlan plan;
    plan.seconds = minutes * 60.0 - 8;
    plan.seed = seed;
    auto spoken = tone::makeDictation(plan);
    spoken.silence(3.0); // the last pause
    std::vector<std::size_t> words;
    for (std::size_t i = 0; i < 5; ++i)
        words.push_back((seed + 3 * i) % tone::vocabulary().size());
    spoken.say(words);
    lastWordEnd = spoken.seconds();
    // Long enough for work still running at the last word to end before the stop.
    spoken.silence(scenario == Scenario::ZeroWait ? 20.0 : 0.3);
    return spoken;
}

void BM_StopWait(benchmark::State& state, int minutes, Scenario scenario) {
    replay::Options options;
    options.scratchDir = scratchDir();
    const replay::DecoderCost cost = options.cost;
    Figures& figures = table()[{minutes, scenario}];
    std::uint32_t seed = 1;
    for (auto _ : state) {
        double lastWordEnd = 0;
        const auto spoken = dictation(minutes, seed++, scenario, lastWordEnd);
        auto run = options;
        if (scenario == Scenario::ZeroWait) run.stopAfterSpeculativeFrom = lastWordEnd;
        if (scenario == Scenario::Busy) {
            // Find where the longest decode began, then stop 1 s later.
            const auto full = replay::run(spoken.samples(), run);
            const replay::Decode* longest = nullptr;
            for (const auto& decode : full.decodes) {
                if (decode.kind != "tail" && (!longest || decode.seconds > longest->seconds))
                    longest = &decode;
            }
            if (longest) run.stopAt = longest->startedAt + 1.0;
        }
        const auto result = replay::run(spoken.samples(), run);
        if (!result.text) {
            state.SkipWithError("no transcript");
            break;
        }
        // The stop cuts the busy dictation short: compare with what was said by then.
        auto expected =
            tone::hear(std::span(spoken.samples())
                           .first(static_cast<std::size_t>(result.stopAt * tone::kSampleRate)));
        if (tone::wordsOf(*result.text) != expected) {
            state.SkipWithError("the transcript differs from the words spoken");
            break;
        }
        if (std::getenv("VAK_BENCH_DETAIL") != nullptr) {
            std::printf("%d min %s seed %u: stop at %.1f s, waited %.2f s (queue %.2f + decode "
                        "%.2f + own %.3f)\n",
                        minutes, nameOf(scenario), seed - 1, result.stopAt, result.wait(),
                        result.queueWait, result.finishDecode, result.finishReal);
            for (const auto& decode : result.decodes) {
                std::printf("    %-5s at %7.1f s, %5.1f s of audio, %.2f s\n", decode.kind.c_str(),
                            decode.startedAt, decode.clipSeconds, decode.seconds);
            }
        }
        state.SetIterationTime(result.wait());
        figures.waits.push_back(result.wait());
        figures.fullDecode = cost.of(result.stopAt);
    }
    if (!figures.waits.empty()) {
        state.counters["max_wait_s"] =
            *std::max_element(figures.waits.begin(), figures.waits.end());
        state.counters["full_decode_s"] = figures.fullDecode;
    }
}

void registerAll() {
    for (const int minutes : {1, 5, 20}) {
        for (const auto scenario : {Scenario::AfterPause, Scenario::ZeroWait, Scenario::Busy}) {
            benchmark::RegisterBenchmark(
                ("BM_StopWait/" + std::to_string(minutes) + "min/" + nameOf(scenario)).c_str(),
                [minutes, scenario](benchmark::State& state) {
                    BM_StopWait(state, minutes, scenario);
                })
                ->Iterations(minutes == 20 ? 3 : 6)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
}

std::string seconds(double value) {
    char buffer[32];
    if (value < 0.001) {
        std::snprintf(buffer, sizeof buffer, "%.0f µs", value * 1e6);
    } else if (value < 0.1) {
        std::snprintf(buffer, sizeof buffer, "%.0f ms", value * 1000);
    } else {
        std::snprintf(buffer, sizeof buffer, "%.2f s", value);
    }
    return buffer;
}

std::string medianAndMax(std::vector<double> waits) {
    if (waits.empty()) return "—";
    std::sort(waits.begin(), waits.end());
    return seconds(waits[waits.size() / 2]) + " / " + seconds(waits.back());
}

void printTable() {
    std::printf("\n| dictation | wait with chunks: last pause < 3 s before the stop | "
                "wait with chunks: zero-wait stop | wait with chunks: stop 1 s into the longest "
                "decode | wait with a full decode |\n|---|---|---|---|---|\n");
    for (const int minutes : {1, 5, 20}) {
        const auto& afterPause = table()[{minutes, Scenario::AfterPause}];
        std::printf("| %d min | %s | %s | %s | %s |\n", minutes,
                    medianAndMax(afterPause.waits).c_str(),
                    medianAndMax(table()[{minutes, Scenario::ZeroWait}].waits).c_str(),
                    medianAndMax(table()[{minutes, Scenario::Busy}].waits).c_str(),
                    seconds(afterPause.fullDecode).c_str());
    }
    std::printf("\n(median / worst of the seeds)\n");
}

} // namespace

int main(int argc, char** argv) {
    // The engine logs a line per chunk; keep them out of the figures' output.
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDERR_FILENO);
    ::close(null);
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printTable();
    std::filesystem::remove_all(scratchDir());
    return 0;
}
