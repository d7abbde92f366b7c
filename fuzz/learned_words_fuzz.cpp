// The dictionary file: parsed, matched against a transcript, and rewritten by a promotion that
// must keep every entry it does not touch.
#include "base/unicode.h"
#include "fuzz_support.h"
#include "text/learned_words.h"
#include "text/sound_alike.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vak::fuzz;
    const std::string_view content = bytesOf(data, size);
    const auto words = vak::parseLearnedWords(content);
    const vak::SoundAlikeCorrector corrector(words);
    static const vak::SystemWords none;
    const auto corrected = corrector.correct("we use postgress and kuber netes, fast trak", none);
    require(vak::isValidUtf8(corrected.text) || !vak::isValidUtf8(content), "well-formed text");

    const vak::LearnedFiles files{scratchFile("learned-words.txt"), scratchFile("candidates")};
    writeFile(files.words, content);
    if (words.empty() || !vak::isValidUtf8(content)) return 0;
    vak::promoteVariant("postgress", words.front().canonical, files);
    const auto after = vak::loadLearnedWords(files.words);
    require(after.size() == words.size(), "a promotion keeps every entry");
    for (std::size_t i = 0; i < words.size(); ++i)
        require(after[i].canonical == words[i].canonical, "a promotion keeps every spelling");
    return 0;
}
