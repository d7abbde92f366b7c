#include "app/cli_rewrite.h"

#include "base/unicode.h"
#include "foundation/process_values.h"
#include "rewrite/polish.h"
#include "text/formatting.h"

#include <iterator>
#include <string>

namespace vak {

int runPolishStdin(std::istream& in, std::ostream& out, CliRewrite kind) {
    std::string input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!isValidUtf8(input)) input.clear();
    const std::string text = formatAndLearn(input, TranscriptSources::from(processValues()));
    const RewriteSettings settings = RewriteSettings::from(processValues());
    const auto rewrite =
        kind == CliRewrite::ForAI ? polishForAI(text, settings) : polishForText(text, settings);
    if (!rewrite) {
        out << (kind == CliRewrite::ForAI ? "POLISH FAILED" : "PRO POLISH FAILED")
            << " — daemon would paste the raw transcript\n";
        out.flush();
        return 1;
    }
    out << *rewrite << "\n";
    out.flush();
    return 0;
}

} // namespace vak
