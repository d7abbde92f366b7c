#include "app/cli_text.h"

#include "base/unicode.h"
#include "foundation/process_values.h"
#include "text/formatting.h"
#include "text/local_command.h"
#include "text/local_modes.h"

#include <iostream>
#include <string>

namespace vak {

namespace {

// All of standard input, bytes that are not UTF-8 read as U+FFFD, as a decoder's text is.
std::string readInput(std::istream& in) {
    std::string input;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        input.append(buffer, static_cast<std::size_t>(in.gcount()));
    return isValidUtf8(input) ? input : sanitizeUtf8(input);
}

} // namespace

int runFormatStdin(std::istream& in, std::ostream& out) {
    out << formatAndLearn(readInput(in), TranscriptSources::from(processValues())) << "\n";
    out.flush();
    return 0;
}

int runLocalMode(std::string_view modeName, std::istream& in, std::ostream& out) {
    const auto mode = deliver_mode::fromName(modeName);
    if (!mode) {
        std::cerr << "unknown writing mode '" << modeName << "' — printed as spoken\n";
    }
    const ProcessValues& values = processValues();
    out << localModeTransform(formatAndLearn(readInput(in), TranscriptSources::from(values)),
                              mode.value_or(DeliverMode::raw), values.file(UserFile::ModeRules))
        << "\n";
    out.flush();
    return 0;
}

int runLocalCommand(std::string_view instruction, std::istream& in, std::ostream& out) {
    const auto edited = localCommandEdit(trim(readInput(in)), instruction,
                                         processValues().file(UserFile::ModeRules));
    if (!edited) return 1;
    out << *edited << "\n";
    out.flush();
    return 0;
}

} // namespace vak
