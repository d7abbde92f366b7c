#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// The sections of an agent brief a cue can vote for.
enum class CueSection { goal, constraint, done, context };

// The names used in the mode-rules file, in the order of CueSection.
inline constexpr std::array<std::string_view, 4> CUE_SECTION_NAMES = {"goal", "constraint", "done",
                                                                      "context"};
std::string_view sectionName(CueSection section);
// Exact, lower-case names only.
std::optional<CueSection> sectionFromName(std::string_view name);

// One of the user's own cues: a phrase, matched as whole words in any case, and its weight.
struct ModeRule {
    CueSection section = CueSection::goal;
    std::string phrase;
    double weight = 2;

    bool operator==(const ModeRule&) const = default;
};

// The rules of the file's content. Lines without a ":", with an unknown section or an empty
// phrase are skipped; a missing or unreadable weight is 2.
std::vector<ModeRule> parseModeRules(std::string_view content);
// The rules of a file (~/.dictation/mode-rules: one "section: phrase = weight" per line, "#"
// comments); none when it is missing or unreadable.
std::vector<ModeRule> loadCustomRules(const std::string& path);

// The file's content for these rules: two header lines, then one line per rule with its weight
// as a whole number. Rules that could not be read back as written (no phrase left) are left
// out, and line breaks inside a phrase become spaces, so the file always reads back.
std::string modeRulesText(const std::vector<ModeRule>& rules);
// Replaces the file at once (0600). False, with one log line, when it could not be written.
bool saveCustomRules(const std::vector<ModeRule>& rules, const std::string& path);

} // namespace vak
