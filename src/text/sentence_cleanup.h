#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// Day and month names that are capitalised wherever they appear. March and May are left out:
// both are ordinary words too.
inline constexpr std::array<std::string_view, 17> CALENDAR_WORDS = {
    "monday", "tuesday",   "wednesday", "thursday", "friday",  "saturday",
    "sunday", "january",   "february",  "april",    "june",    "july",
    "august", "september", "october",   "november", "december"};

// The sentences of a formatted transcript, each with its self-corrections resolved, spoken
// filler removed, contractions repaired, money, percentages and clock times written as figures
// and calendar names capitalised. Sentences left empty are dropped. The writing modes work on
// these.
std::vector<std::string> cleanedSentences(std::string_view text);

// Splits at ".", "?" or "!" followed by the end, by blanks up to the end, or by blanks and then
// an upper-case letter or a digit. Only the space character separates: "3.5", "e.g. the" and a
// period followed by a line break stay inside their sentence. Sentences come back trimmed of
// blanks and line breaks; empty ones are dropped.
std::vector<std::string> splitIntoSentences(std::string_view text);

// "meet on Tuesday no wait Wednesday" → "meet on Wednesday": a correction of one to three words
// replaces as many words before the cue; a longer one replaces the clause after the last comma
// (or everything before the cue when there is no comma). Repeats until no cue is left.
std::string resolveSelfCorrections(std::string_view text);

// Leading openers ("okay so", "well,"), filler between commas ("like", "you know"), trailing
// hedges ("if that makes sense"), stuttered short words ("the the") and runs of white space.
std::string stripSpokenFiller(std::string_view text);

// "the the the plan" → "the plan": a run of one short word, in any case, becomes its first copy.
// The filler stage's own rule does this with a pattern; this is the same without one, for runs
// too long for the pattern.
std::string collapseStutters(std::string_view text);

// "dont" → "don't", "im" → "I'm" and the like. A capitalised spoken form comes out in lower case
// (except the pronoun I); sentenceCased restores a sentence's first capital.
std::string fixContractions(std::string_view text);

// Money (formatSpokenMoney), then "12.5 percent" → "12.5%", then "3pm" → "3 PM".
std::string formatSpokenUnits(std::string_view text);

// "1500 dollars" → "$1,500", grouped the way the user's locale groups digits (LC_ALL, else
// LC_NUMERIC, else LANG; en_US when none names one). An amount that is the tail of a larger
// written number ("1,500 dollars", "2.5 dollars") is left as it is.
std::string formatSpokenMoney(std::string_view text);
// The ICU locale name formatSpokenMoney uses, from the environment.
std::string numberLocaleName();

// Every CALENDAR_WORDS word, in any case, as a whole word → "Monday".
std::string capitalizeCalendar(std::string_view text);

// Trimmed of spaces and tabs, first character upper-cased, and a closing "." unless it already
// ends with ".", "?", "!" or ":" (a final "," or ";" becomes the "."). Empty stays empty.
std::string sentenceCased(std::string_view text);

} // namespace vak
