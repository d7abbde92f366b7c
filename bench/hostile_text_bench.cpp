// Every text stage on hostile input of 1 KB to 1 MB: runs of one character, unclosed brackets,
// repeated cues, many near misses of a learned word, stutters and nested snippets. After the
// runs, a table gives each stage's growth per tenfold input (1 for constant cost per call, 10
// for linear); the goal is at most 12 everywhere. Times are CPU time per call, so that other work
// on a shared machine does not distort the growth.
#include "text/agent_brief.h"
#include "text/collapse_repeats.h"
#include "text/formatting.h"
#include "text/learned_words.h"
#include "text/local_command.h"
#include "text/local_modes.h"
#include "text/self_corrections.h"
#include "text/sentence_cleanup.h"
#include "text/snippets.h"
#include "text/sound_alike.h"
#include "text/spoken_filler.h"
#include "text/spoken_units.h"
#include "text/word_forms.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

constexpr std::size_t kSizes[] = {1'000, 10'000, 100'000, 1'000'000};

// The user's files the pipeline reads: a small dictionary, and snippets that each name the
// next shorter one ten times over.
struct Home {
    Home() {
        char pattern[] = "/tmp/vak_bench_hostile_XXXXXX";
        dir = mkdtemp(pattern);
        write("learned-words.txt", "Postgres\nKubernetes|kuber nets\nFast Track\n");
        std::string snippets;
        for (int level = 1; level <= 7; ++level) {
            snippets += std::string(static_cast<std::size_t>(level), 'k') + " =";
            for (int copy = 0; copy < 10; ++copy)
                snippets += " snippet " + std::string(static_cast<std::size_t>(level - 1), 'k');
            snippets += "\n";
        }
        write("snippets", snippets);
    }
    ~Home() { std::filesystem::remove_all(dir); }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(dir + "/" + name) << text;
    }
    vak::TranscriptSources sources() const {
        return {{dir + "/learned-words.txt", dir + "/.variant-candidates"},
                dir + "/snippets",
                &vak::SystemWords::common()};
    }
    std::string dir;
};

const Home& home() {
    static const Home* h = new Home();
    return *h;
}

// `unit` repeated to `size` bytes; `vary` numbers the copies so that no repetition guard folds
// them together.
std::string repeated(const std::string& unit, std::size_t size, bool vary) {
    std::string text;
    text.reserve(size + unit.size() + 8);
    for (std::size_t i = 0; text.size() < size; ++i)
        text += vary ? unit + std::to_string(i % 997) + " " : unit;
    text.resize(size);
    return text;
}

std::string nearMisses(std::size_t size) {
    // "postgres" with one letter changed: each a distinct form that sounds like the entry.
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i) {
        std::string word = "postgres";
        word[i % 8] = static_cast<char>('a' + (i / 8) % 26);
        text += word + " and ";
    }
    text.resize(size);
    return text;
}

struct Shape {
    const char* name;
    std::function<std::string(std::size_t)> make;
};

const std::vector<Shape>& shapes() {
    static const auto* list = new std::vector<Shape>{
        {"one-char", [](std::size_t n) { return std::string(n, 'a'); }},
        {"blanks", [](std::size_t n) { return "x" + std::string(n - 2, ' ') + "y"; }},
        {"unclosed", [](std::size_t n) { return repeated("(laugh [X {a \"b ", n, true); }},
        {"cues",
         [](std::size_t n) { return repeated("red, no wait blue scratch that ", n, true); }},
        {"near-misses", nearMisses},
        {"stutter", [](std::size_t n) { return repeated("the ", n, false); }},
        {"snippets", [](std::size_t n) { return repeated("snippet kkkkkkk ", n, false); }},
    };
    return *list;
}

struct Stage {
    const char* name;
    std::function<std::string(const std::string&)> run;
};

const std::vector<Stage>& stages() {
    static const auto* list = new std::vector<Stage>{
        {"formatTranscript",
         [](const std::string& t) { return vak::formatTranscript(t, home().sources()).text; }},
        {"collapseRepeats",
         [](const std::string& t) { return vak::collapseRepeats(t, vak::Repeats::loops); }},
        {"soundAlike",
         [](const std::string& t) {
             static const vak::SoundAlikeCorrector corrector(
                 vak::parseLearnedWords("Postgres\nKubernetes\nFast Track\n"));
             return corrector.correct(t, vak::SystemWords::common()).text;
         }},
        {"snippets",
         [](const std::string& t) {
             static const vak::SnippetExpander expander(
                 vak::loadSnippets(home().dir + "/snippets"));
             return expander.apply(t);
         }},
        {"resolveSelfCorrections",
         [](const std::string& t) { return vak::resolveSelfCorrections(t); }},
        {"stripSpokenFiller", [](const std::string& t) { return vak::stripSpokenFiller(t); }},
        {"fixContractions", [](const std::string& t) { return vak::fixContractions(t); }},
        {"formatSpokenUnits", [](const std::string& t) { return vak::formatSpokenUnits(t); }},
        {"capitalizeCalendar", [](const std::string& t) { return vak::capitalizeCalendar(t); }},
        {"cleanedSentences",
         [](const std::string& t) { return std::to_string(vak::cleanedSentences(t).size()); }},
        {"localProfessional", [](const std::string& t) { return vak::localProfessional(t); }},
        {"localSummarize", [](const std::string& t) { return vak::localSummarize(t); }},
        {"localExpand", [](const std::string& t) { return vak::localExpand(t); }},
        {"localAgentBrief", [](const std::string& t) { return vak::localAgentBrief(t); }},
        {"localCommandEdit",
         [](const std::string& t) {
             return vak::localCommandEdit(t, "clean this up").value_or(std::string());
         }},
    };
    return *list;
}

// Collects the mean time of every run and prints the growth table at the end.
class GrowthReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // With repetitions the median stands for the case; without, the one run does.
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (!median && (run.run_type != Run::RT_Iteration || run.iterations == 0)) continue;
            const std::string& name = run.run_name.function_name;
            if (!median && medians_.contains(name)) continue;
            if (median) medians_.insert(name);
            seconds_[name] =
                run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
    }

    void printGrowth() const {
        std::printf("\n%-24s %-12s %10s %10s %10s %10s   growth per 10x\n", "stage", "shape",
                    "1 KB", "10 KB", "100 KB", "1 MB");
        for (const Stage& stage : stages()) {
            for (const Shape& shape : shapes()) {
                std::vector<double> t;
                for (std::size_t size : kSizes) {
                    const auto it = seconds_.find(nameOf(stage, shape, size));
                    if (it != seconds_.end()) t.push_back(it->second);
                }
                if (t.size() != std::size(kSizes)) continue;
                std::printf("%-24s %-12s %9.4fs %9.4fs %9.4fs %9.4fs  ", stage.name, shape.name,
                            t[0], t[1], t[2], t[3]);
                for (std::size_t i = 1; i < t.size(); ++i)
                    std::printf(" %5.1f", t[i] / t[i - 1]);
                std::printf("\n");
            }
        }
    }

    static std::string nameOf(const Stage& stage, const Shape& shape, std::size_t size) {
        return std::string(stage.name) + "/" + shape.name + "/" + std::to_string(size);
    }

  private:
    std::map<std::string, double> seconds_;
    std::set<std::string> medians_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (const Stage& stage : stages()) {
        for (const Shape& shape : shapes()) {
            for (std::size_t size : kSizes) {
                benchmark::RegisterBenchmark(GrowthReporter::nameOf(stage, shape, size).c_str(),
                                             [&stage, &shape, size](benchmark::State& state) {
                                                 const std::string input = shape.make(size);
                                                 for (auto _ : state)
                                                     benchmark::DoNotOptimize(stage.run(input));
                                             })
                    ->Unit(benchmark::kMillisecond)
                    ->MinTime(0.05);
            }
        }
    }
    GrowthReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printGrowth();
    benchmark::Shutdown();
    return 0;
}
