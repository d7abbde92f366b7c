// The whole formatting pipeline on any engine output, with a dictionary and snippets in place.
#include "base/unicode.h"
#include "fuzz_support.h"
#include "text/formatting.h"
#include "text/sound_alike.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vak::fuzz;
    static const vak::TranscriptSources sources = [] {
        writeFile(scratchFile("learned-words.txt"),
                  "Postgres\nKubernetes|kuber nets\nFast Track\nC#|see sharp\n");
        writeFile(scratchFile("snippets"), "sig = Best,\\nSam\naddr = snippet sig $1 \\\\\n");
        static const vak::SystemWords none;
        return vak::TranscriptSources{{scratchFile("learned-words.txt"), scratchFile("candidates")},
                                      scratchFile("snippets"),
                                      &none};
    }();
    const auto formatted = vak::formatTranscript(bytesOf(data, size), sources);
    require(vak::isValidUtf8(formatted.text), "well-formed text");
    require(formatted.notes.size() <= vak::SoundAlikeCorrector::kMaxNotesPerText, "bounded notes");
    return 0;
}
