// How much the shared text helpers cost on a transcript-sized input.
#include "base/regex.h"
#include "base/unicode.h"

#include <string>

#include <benchmark/benchmark.h>

namespace {

std::string transcript(std::size_t words) {
    static const char* vocabulary[] = {"so",       "um", "the", "github",     "deploy",
                                       "café",     "👍",  "and", "kubernetes", "uh",
                                       "tomorrow", "at", "10",  "pm"};
    std::string text;
    for (std::size_t i = 0; i < words; ++i) {
        if (i > 0) text += ' ';
        text += vocabulary[i % (sizeof vocabulary / sizeof *vocabulary)];
    }
    return text;
}

void BM_RegexReplaceCachedPattern(benchmark::State& state) {
    const std::string text = transcript(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(vak::regexReplace(text, "(?i)\\bgit ?hub\\b", "GitHub"));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_RegexReplaceCachedPattern)->Arg(50)->Arg(500)->Arg(5000);

void BM_GraphemeCount(benchmark::State& state) {
    const std::string text = transcript(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(vak::graphemeCount(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_GraphemeCount)->Arg(50)->Arg(5000);

} // namespace

BENCHMARK_MAIN();
