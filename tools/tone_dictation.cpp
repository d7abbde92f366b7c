// Writes a tone-word dictation (tone_words.h) for replaying through the command-line modes:
//   vak-tone-dictation [--minutes M] [--seed N] [--monologue] OUT.wav [WORDS.txt]
// WORDS.txt receives the spoken words, one line, separated by blanks.
#include "tone_words.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    tone::DictationPlan plan;
    plan.seconds = 120;
    std::string wav;
    std::string words;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--minutes" && i + 1 < argc) {
            plan.seconds = std::atof(argv[++i]) * 60;
        } else if (arg == "--seed" && i + 1 < argc) {
            plan.seed = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--monologue") {
            plan.pauses = false;
        } else if (wav.empty()) {
            wav = arg;
        } else {
            words = arg;
        }
    }
    if (wav.empty() || !(plan.seconds > 0)) {
        std::fprintf(stderr,
                     "usage: vak-tone-dictation [--minutes M] [--seed N] [--monologue] OUT.wav "
                     "[WORDS.txt]\n");
        return 2;
    }
    const auto dictation = tone::makeDictation(plan);
    std::ofstream(wav, std::ios::binary) << dictation.wavBytes();
    if (!words.empty()) std::ofstream(words) << dictation.text() << "\n";
    std::printf("%s: %.1f s, %zu words\n", wav.c_str(), dictation.seconds(),
                dictation.words().size());
    return 0;
}
