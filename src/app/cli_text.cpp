#include "app/cli_text.h"

#include "base/unicode.h"
#include "text/formatting.h"

#include <string>

namespace vak {

int runFormatStdin(std::istream& in, std::ostream& out) {
    std::string input;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        input.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (!isValidUtf8(input)) input.clear();
    out << formatTranscript(input) << "\n";
    out.flush();
    return 0;
}

} // namespace vak
