#include "text/agent_brief.h"

#include "base/files.h"
#include "base/unicode.h"
#include "text/local_modes.h"
#include "text/sentence_casing.h"
#include "text/sentence_cleanup.h"
#include "text/words.h"

#include <array>
#include <memory>
#include <mutex>

namespace vak {

namespace {

struct BuiltInCue {
    CueSection section;
    std::string_view pattern;
    double weight;
};

constexpr std::array<BuiltInCue, 12> kBuiltInCues = {{
    {CueSection::constraint,
     R"(\b(?:don'?t|do not|shouldn'?t|should not|must not|never|avoid|without (?:breaking|touching)|only touch|hands off)\b)",
     3},
    {CueSection::constraint,
     R"(\b(?:make sure|keep (?:the|it|everything)|leave (?:the|it)|stay (?:away from|out of)|be careful)\b)",
     2},
    {CueSection::done,
     R"(\b(?:done when|it works when|tests? (?:pass|passing)|verify that|acceptance criteria)\b)",
     3},
    {CueSection::done,
     R"(\b(?:should (?:return|show|display|pass|see|survive)|expect(?:ed)? to|so that|when (?:i|you|it)'?m?s? (?:done|finished))\b)",
     2},
    {CueSection::context,
     R"(\b(?:error|stack trace|crash(?:es|ing)?|the bug|fails?|failing|broken)\b)", 3},
    // A file name is looked for only from the start of its word: the same matches, but a long
    // word is scanned once rather than once from each of its letters.
    {CueSection::context,
     R"((?:\b(?:currently|right now|at the moment|today it)\b|(?<![\w-])[\w-]+\.(?:swift|ts|tsx|js|jsx|py|go|cs|rb|css|html|json|md)\b|/[\w./-]{3,}))",
     2},
    {CueSection::goal,
     R"(^(?:please[\s]+)?(?:add|fix|build|make|create|update|change|remove|delete|implement|wire|write|move|rename|refactor|redesign|set up|hook up|clean up|deploy|ship|migrate|port|convert|integrate|optimize|speed up|install|configure|test|style|animate|publish|upgrade|swap|replace|extract|split|merge|connect|automate)\b)",
     3},
    {CueSection::goal,
     R"(\b(?:i (?:want|need) (?:you )?to|can you|we need to|the goal is|i'?m trying to)\b)", 3},
    {CueSection::goal, R"(\b(?:it should|it needs to|there should be)\b)", 1.5},
    {CueSection::constraint,
     R"(\b(?:has to stay|keep it under|no more than|at most|can'?t|cannot|instead of|rather than|without asking|asap|by (?:tonight|tomorrow|monday|tuesday|wednesday|thursday|friday|saturday|sunday|the demo|end of (?:day|week))|deadline)\b)",
     2},
    {CueSection::done,
     R"(\b(?:end result|final result|should end up|once it'?s|success (?:is|means)|i can tell it worked|at the end|the output should)\b)",
     2},
    {CueSection::context,
     R"(\b(?:i tried|we tried|last time|yesterday|the problem is|what'?s happening is|the repo|the branch|the pr|right now it)\b)",
     2},
}};

const std::vector<AgentCue>& builtInCues() {
    static const auto* cues = [] {
        auto* list = new std::vector<AgentCue>();
        for (const BuiltInCue& cue : kBuiltInCues)
            list->emplace_back(cue.section, std::string(cue.pattern), cue.weight);
        return list;
    }();
    return *cues;
}

// The user's cues, compiled again only when the file's content changes.
std::vector<AgentCue> userCues(const std::string& rulesPath) {
    static std::mutex mutex;
    static auto* lastContent = new std::optional<std::string>();
    static auto* lastCues = new std::vector<AgentCue>();
    const std::string content = readUserBytes(rulesPath).value_or(std::string());
    std::lock_guard lock(mutex);
    if (content != *lastContent) {
        std::vector<AgentCue> cues;
        for (const ModeRule& rule : parseModeRules(content))
            cues.push_back(userCue(rule));
        *lastCues = std::move(cues);
        *lastContent = content;
    }
    return *lastCues;
}

const Regex& leadingConnective() {
    static const auto* connective = new Regex(R"((?i)^(?:and|but|then|also)[\s]+)");
    return *connective;
}

using SectionScores = std::array<double, 4>; // by CueSection

std::vector<SectionScores> scoreClauses(const std::vector<std::string>& clauses,
                                        const std::vector<AgentCue>& cues) {
    std::vector<SectionScores> scores(clauses.size(), SectionScores{});
    for (std::size_t i = 0; i < clauses.size(); ++i) {
        scores[i][static_cast<std::size_t>(CueSection::goal)] = i == 0 ? 2 : 0;
        for (const AgentCue& cue : cues) {
            if (cue.compiled.search(clauses[i]))
                scores[i][static_cast<std::size_t>(cue.section)] += cue.weight;
        }
    }
    return scores;
}

std::string dashedBlock(std::string_view heading, const std::vector<std::string>& items) {
    std::string block(heading);
    for (const std::string& item : items)
        block += "\n- " + item;
    return block;
}

AgentBrief layoutBrief(const std::vector<std::string>& clauses,
                       const std::vector<SectionScores>& scores, double threshold) {
    constexpr auto goal = static_cast<std::size_t>(CueSection::goal);
    std::array<std::vector<std::string>, 4> sections;
    for (std::size_t i = 0; i < clauses.size(); ++i) {
        const SectionScores& score = scores[i];
        // Constraint, done, context: a later one wins only with a strictly higher score.
        auto best = static_cast<std::size_t>(CueSection::constraint);
        for (CueSection other : {CueSection::done, CueSection::context}) {
            if (score[static_cast<std::size_t>(other)] > score[best])
                best = static_cast<std::size_t>(other);
        }
        const bool placed = score[best] >= threshold && score[best] > score[goal];
        sections[placed ? best : goal].push_back(capitalizeSentences(clauses[i], Closing::period));
    }

    std::vector<std::string> blocks;
    const auto& goals = sections[goal];
    if (!goals.empty()) blocks.push_back("Goal\n" + join(goals, " "));
    constexpr std::array<std::pair<CueSection, std::string_view>, 3> kHeadings = {{
        {CueSection::constraint, "Constraints"},
        {CueSection::done, "Done when"},
        {CueSection::context, "Context"},
    }};
    double quality = goals.empty() ? -4 : 3;
    for (const auto& [section, heading] : kHeadings) {
        const auto& items = sections[static_cast<std::size_t>(section)];
        if (items.empty()) continue;
        blocks.push_back(dashedBlock(heading, items));
        quality += 1;
        if (static_cast<double>(items.size()) > static_cast<double>(clauses.size()) / 2)
            quality -= 2;
    }
    return {join(blocks, "\n\n"), quality};
}

} // namespace

AgentCue::AgentCue(CueSection section_, std::string pattern_, double weight_)
    : section(section_), pattern(std::move(pattern_)), weight(weight_), compiled("(?i)" + pattern) {
}

AgentCue userCue(const ModeRule& rule) {
    // Look-arounds rather than "\b", so that a phrase which begins or ends with a symbol ("c++",
    // "#billing") still matches where it stands alone; for phrases of letters and digits the two
    // are the same.
    return AgentCue(rule.section, "(?<!\\w)" + regexEscape(rule.phrase) + "(?!\\w)", rule.weight);
}

std::vector<std::string> taskClausesOf(const std::vector<std::string>& cleanedSentences) {
    std::vector<std::string> clauses;
    for (const std::string& sentence : cleanedSentences) {
        std::size_t pos = 0;
        while (pos <= sentence.size()) {
            const std::size_t comma = std::min(sentence.find(", ", pos), sentence.size());
            std::string piece =
                trim(std::string_view(sentence).substr(pos, comma - pos), CharClass::Blanks);
            pos = comma + 2;
            if (const auto connective = leadingConnective().firstMatch(piece))
                piece.erase(0, connective->end);
            if (piece.empty()) continue;
            if (hasAtLeastWords(piece, 3) || clauses.empty()) {
                clauses.push_back(std::move(piece));
            } else if (endsWithAnyOf(clauses.back(), ".?!")) {
                // A short sentence after a finished one follows it as a sentence ("Thanks."),
                // not after a comma ("Friday., Thanks.").
                clauses.back() += " " + upperFirst(piece);
            } else {
                clauses.back() += ", " + piece;
            }
        }
    }
    return clauses;
}

std::vector<std::string> taskClauses(std::string_view text) {
    return taskClausesOf(cleanedSentences(text));
}

std::vector<AgentCue> agentCueTable(const std::string& rulesPath) {
    std::vector<AgentCue> cues = builtInCues();
    if (rulesPath.empty()) return cues;
    std::vector<AgentCue> own = userCues(rulesPath);
    cues.insert(cues.end(), std::make_move_iterator(own.begin()),
                std::make_move_iterator(own.end()));
    return cues;
}

AgentBrief buildAgentBrief(const std::vector<std::string>& clauses,
                           const std::vector<AgentCue>& cues, double threshold) {
    return layoutBrief(clauses, scoreClauses(clauses, cues), threshold);
}

std::optional<std::string> agentBriefOf(const std::vector<std::string>& cleanedSentences,
                                        const std::vector<AgentCue>& cues) {
    const std::vector<std::string> clauses = taskClausesOf(cleanedSentences);
    if (clauses.empty()) return std::nullopt;
    // The scores do not depend on the threshold; only the layout does.
    const std::vector<SectionScores> scores = scoreClauses(clauses, cues);
    AgentBrief strict = layoutBrief(clauses, scores, 3);
    AgentBrief loose = layoutBrief(clauses, scores, 2);
    AgentBrief& chosen = loose.quality > strict.quality ? loose : strict;
    if (chosen.text.empty()) return std::nullopt;
    return std::move(chosen.text);
}

std::string localAgentBrief(std::string_view text, const std::vector<AgentCue>& cues) {
    const std::vector<std::string> sentences = cleanedSentences(text);
    if (auto brief = agentBriefOf(sentences, cues)) return std::move(*brief);
    return localProfessional(text);
}

} // namespace vak
