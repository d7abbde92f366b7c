#pragma once

#include <istream>
#include <ostream>
#include <string_view>

namespace vak {

// --format-stdin: formats all of `in` as one transcript and prints it on one line. Input that is
// not UTF-8 counts as empty. Always succeeds (0).
int runFormatStdin(std::istream& in, std::ostream& out);

// --local-mode MODE: formats all of `in`, renders it with the local writing mode MODE
// ("professional", "summarize", "agent", "expand"; any other name leaves the text as formatted)
// and prints it. Input that is not UTF-8 counts as empty. Always succeeds (0).
int runLocalMode(std::string_view mode, std::istream& in, std::ostream& out);

// --local-command INSTRUCTION: applies the instruction with the local editor to all of `in`,
// trimmed, as the selected text. Prints the edit and returns 0, or prints nothing and returns 1
// when the local editor has no rule for the instruction.
int runLocalCommand(std::string_view instruction, std::istream& in, std::ostream& out);

} // namespace vak
