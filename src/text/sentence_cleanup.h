#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vak {

// The sentences of a formatted transcript (splitIntoSentences), each with its self-corrections
// resolved, spoken filler removed, contractions repaired, money, percentages and clock times
// written as figures and calendar names capitalised. Sentences left empty are dropped. The writing
// modes work on these.
std::vector<std::string> cleanedSentences(std::string_view text);

// Splits at ".", "?" or "!" followed by the end, by blanks up to the end, or by blanks and then
// an upper-case letter or a digit. Only the space character separates: "3.5", "e.g. the" and a
// period followed by a line break stay inside their sentence. Sentences come back trimmed of
// blanks and line breaks; empty ones are dropped.
std::vector<std::string> splitIntoSentences(std::string_view text);

} // namespace vak
