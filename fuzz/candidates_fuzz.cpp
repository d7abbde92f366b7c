// The candidates file as found: one transcript's notes recorded into it, which must leave it
// bounded and move each form to exactly one place.
#include "base/files.h"
#include "fuzz_support.h"
#include "text/learned_words.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vak::fuzz;
    const vak::LearnedFiles files{scratchFile("learned-words.txt"), scratchFile("candidates")};
    writeFile(files.words, "Postgres\nKubernetes\n");
    writeFile(files.candidates, bytesOf(data, size));
    vak::recordVariantNotes({{"postgress", "Postgres"}, {"kuber nets", "Kubernetes", 2}}, files);

    const auto candidates = vak::readTextFile(files.candidates);
    if (!candidates) return 0; // not UTF-8: left alone, which the unit tests check
    const auto lines = std::count(candidates->begin(), candidates->end(), '\n');
    require(static_cast<std::size_t>(lines) <= vak::kMaxVariantCandidates, "bounded candidates");
    const std::string asLines = "\n" + *candidates;
    require(asLines.find("\nKubernetes|kuber nets\n") == std::string::npos,
            "a form seen twice leaves the candidates");
    const auto words = vak::readTextFile(files.words).value_or("");
    require(words.find("kuber nets") != std::string::npos, "a form seen twice is learned");
    const bool candidate = asLines.find("\nPostgres|postgress\n") != std::string::npos;
    const bool learned = words.find("postgress") != std::string::npos;
    require(candidate != learned, "a form is a candidate or learned, not both or neither");
    return 0;
}
