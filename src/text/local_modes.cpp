#include "text/local_modes.h"

#include "base/regex.h"
#include "base/unicode.h"
#include "text/agent_brief.h"
#include "text/sentence_casing.h"
#include "text/sentence_cleanup.h"
#include "text/words.h"

#include <algorithm>
#include <array>
#include <unordered_set>
#include <utility>

namespace vak {

namespace {

constexpr std::string_view kAux =
    R"((?:can|could|would|will|should|shall|do|does|did|is|are|was|were|am|have|has|won'?t|don'?t|didn'?t|isn'?t|aren'?t|shouldn'?t|couldn'?t|wouldn'?t))";
constexpr std::string_view kSubject = R"((?:you|we|i|it|they|he|she|that|this|there|anyone|the))";
constexpr std::string_view kWh = R"((?:what|when|where|why|how|who|which))";
constexpr std::string_view kTail = R"( (?:about|much|many|long|often|soon)\b))";

std::string questionPattern() {
    std::string pattern = "(?i)^(?:";
    pattern += kAux;
    pattern += " ";
    pattern += kSubject;
    pattern += "\\b|";
    pattern += kWh;
    pattern += " ";
    pattern += kAux;
    pattern += "\\b|";
    pattern += kWh;
    pattern += kTail;
    return pattern;
}

struct DomainQuestion {
    Regex pattern;
    std::string_view question;
};

struct ModeRules {
    Regex question{questionPattern()};
    Regex greeting{
        R"((?i)^(?:hey|hi|hello|good morning|good afternoon|good evening|dear) [a-z]+(?: [a-z]+)?$)"};
    Regex signoff{
        R"((?i)^(?:thanks|thank you|thanks so much|thanks a lot|cheers|best|talk soon|see you (?:then|soon|tomorrow)|appreciate it)[.,!]?$)"};

    Regex listItem{
        R"((?i)^(?:first(?:ly)?|second(?:ly)?|third(?:ly)?|then|next|also|finally|lastly|on top of that|(?:number|point|step) \w+)[,]?[\s]+)"};
    Regex topicShift{
        R"((?i)^(?:anyway|separately|one more thing|oh and|on another note|switching gears|next thing|the other thing|last thing|by the way|real quick|also wanted to)[,]?[\s]+)"};
    Regex action{
        R"((?i)\b(?:need(?:s)? to|have to|remember to|don'?t forget|make sure to|todo|to-do)\b)"};
    Regex decision{
        R"((?i)\b(?:we decided|i decided|we agreed|let'?s go with|the plan is|we'?re going with|the decision is|going to go with)\b)"};

    std::array<DomainQuestion, 12> domain{{
        {Regex(R"((?i)\b(?:page|button|screen|form|modal|toggle|menu|dropdown|the ui)\b)"),
         "- What should the loading, empty, and error states look like?"},
        {Regex(R"((?i)\b(?:api|endpoint|route|webhook|request|server)\b)"),
         "- What are the auth, rate limit, and error response expectations?"},
        {Regex(R"((?i)\b(?:bug|broken|crash|doesn'?t work|not working)\b)"),
         "- What are the exact steps that reproduce it, and what should happen instead?"},
        {Regex(R"((?i)\b(?:database|table|migration|schema|column)\b)"),
         "- Does anything need migrating, and what happens to existing rows?"},
        {Regex(R"((?i)\b(?:payment|checkout|billing|stripe|subscription|invoice)\b)"),
         "- What should happen on a failed, disputed, or refunded payment?"},
        {Regex(R"((?i)\b(?:login|log in|signup|sign up|auth|password|session)\b)"),
         "- Which users does this apply to, and what happens to existing sessions?"},
        {Regex(R"((?i)\b(?:slow|laggy|lag|latency|speed up|performance|faster|quicker)\b)"),
         "- What is the acceptable number, concretely: how fast is fast enough?"},
        {Regex(R"((?i)\b(?:deploy|release|ship it|rollout|roll out)\b)"),
         "- Is there a rollout order or migration involved, and is rollback required?"},
        {Regex(R"((?i)\b(?:email|outreach|message to|reach out|follow up with)\b)"),
         "- Who exactly is the recipient, what tone, and what is the one thing they should do "
         "after reading?"},
        {Regex(R"((?i)\b(?:post|video|caption|tweet|blog|content)\b)"),
         "- Which platform and audience is this for, and how long should it be?"},
        {Regex(R"((?i)\b(?:report|export|csv|spreadsheet|analytics|dashboard)\b)"),
         "- Which columns or metrics, over what time period, in what format?"},
        {Regex(R"((?i)\b(?:test|tests|coverage)\b)"),
         "- Which behaviors must be covered, and what counts as passing?"},
    }};
    Regex done{
        R"((?i)\b(?:done when|should (?:return|show|display|work|pass|see)|expect(?:ed)? to|so that|it works when|tests? pass|verify that)\b)"};
    Regex edgeCases{R"((?i)\b(?:empty|missing|invalid|malformed|edge case|error|fail)\b)"};
    Regex constraints{
        R"((?i)\b(?:don'?t|do not|shouldn'?t|should not|must not|never|avoid|without (?:breaking|touching)|keep (?:the|it|everything)|leave (?:the|it)|make sure|only touch)\b)"};

    Regex number{R"(\d[\d,.]*\d|\d)"};
};

constexpr std::array<std::string_view, 3> kRunOnConjunctions = {", and ", ", but ", ", so "};

constexpr std::string_view kDoneQuestion = "- What does done look like, concretely?";
constexpr std::string_view kEdgeQuestion =
    "- What should happen when the input is empty, missing, or malformed?";
constexpr std::string_view kConstraintsQuestion = "- Is there anything that must not change?";

const ModeRules& modeRules() {
    // Never destroyed: background rewrites may still run while the process exits.
    static const ModeRules* compiled = new ModeRules();
    return *compiled;
}

// One piece split at one conjunction, as far as both sides keep four words.
void splitAt(std::string_view piece, std::string_view conjunction, std::vector<std::string>& out) {
    std::string_view rest = piece;
    for (;;) {
        const std::size_t pos = rest.find(conjunction);
        if (pos == std::string_view::npos) break;
        const std::string_view before = rest.substr(0, pos);
        const std::string_view after = rest.substr(pos + conjunction.size());
        if (!hasAtLeastWords(before, 4) || !hasAtLeastWords(after, 4)) break;
        out.emplace_back(before);
        rest = after;
    }
    out.emplace_back(rest);
}

// Cleaned sentences, each split into its run-on parts.
std::vector<std::string> renderedSentences(const std::vector<std::string>& cleaned) {
    std::vector<std::string> out;
    for (const std::string& sentence : cleaned) {
        for (std::string& part : splitRunOns(sentence))
            out.push_back(std::move(part));
    }
    return out;
}

std::string dashedList(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) {
        if (!out.empty()) out += '\n';
        out += "- " + item;
    }
    return out;
}

std::string expandFrom(std::string_view text, std::string base) {
    const ModeRules& r = modeRules();
    std::vector<std::string> questions;
    std::size_t domainQuestions = 0;
    for (const DomainQuestion& row : r.domain) {
        if (!row.pattern.search(text)) continue;
        questions.emplace_back(row.question);
        if (++domainQuestions == 2) break;
    }
    if (!r.done.search(text)) questions.emplace_back(kDoneQuestion);
    if (domainQuestions == 0 && !r.edgeCases.search(text)) questions.emplace_back(kEdgeQuestion);
    if (!r.constraints.search(text))
        questions.emplace_back(kConstraintsQuestion);
    else if (questions.empty())
        return base;
    const std::string block = "Open questions:\n" + join(questions, "\n");
    // With nothing said, the questions alone: no blank lines above them.
    if (base.empty()) return block;
    return base + "\n\n" + block;
}

} // namespace

std::vector<std::string> splitRunOns(std::string_view sentence) {
    std::vector<std::string> pieces{std::string(sentence)};
    for (std::string_view conjunction : kRunOnConjunctions) {
        std::vector<std::string> next;
        for (const std::string& piece : pieces)
            splitAt(piece, conjunction, next);
        pieces = std::move(next);
    }
    return pieces;
}

std::string inferQuestion(std::string_view sentence) {
    std::string out(sentence);
    if (!out.empty() && out.back() == '.' && modeRules().question.search(out)) out.back() = '?';
    return out;
}

GreetingSplit splitGreeting(std::vector<std::string> sentences) {
    if (sentences.empty()) return {std::nullopt, std::move(sentences)};
    std::string_view first = sentences.front();
    if (!first.empty() && first.back() == '.') first.remove_suffix(1);
    if (hasAtLeastWords(first, 5) || !modeRules().greeting.fullMatch(first))
        return {std::nullopt, std::move(sentences)};
    std::string greeting = upperFirst(first);
    const std::size_t lastWord = greeting.rfind(' ') + 1; // the pattern needs two words
    greeting = greeting.substr(0, lastWord) + upperFirst(greeting.substr(lastWord)) + ",";
    sentences.erase(sentences.begin());
    return {std::move(greeting), std::move(sentences)};
}

SignoffSplit splitSignoff(std::vector<std::string> sentences) {
    if (sentences.empty()) return {std::move(sentences), std::nullopt};
    const std::string& last = sentences.back();
    if (hasAtLeastWords(last, 5) || !modeRules().signoff.fullMatch(last))
        return {std::move(sentences), std::nullopt};
    std::string signoff = capitalizeSentences(last, Closing::period);
    sentences.pop_back();
    return {std::move(sentences), std::move(signoff)};
}

namespace {

// The professional text of rendered sentences.
std::string professionalOf(const std::vector<std::string>& rendered) {
    std::vector<std::string> sentences;
    for (const std::string& part : rendered) {
        const std::string sentence = capitalizeSentences(part, Closing::period);
        if (sentence.empty()) continue; // an empty piece would leave a doubled blank
        sentences.push_back(inferQuestion(sentence));
    }
    auto [greeting, afterGreeting] = splitGreeting(std::move(sentences));
    auto [body, signoff] = splitSignoff(std::move(afterGreeting));

    std::vector<std::string> blocks;
    if (greeting) blocks.push_back(std::move(*greeting));
    if (body.size() < 4) {
        if (!body.empty()) blocks.push_back(join(body, " "));
    } else {
        for (std::size_t i = 0; i < body.size(); i += 3) {
            const std::vector<std::string> paragraph(
                body.begin() + static_cast<std::ptrdiff_t>(i),
                body.begin() + static_cast<std::ptrdiff_t>(std::min(i + 3, body.size())));
            blocks.push_back(join(paragraph, " "));
        }
    }
    if (signoff) blocks.push_back(std::move(*signoff));
    return join(blocks, "\n\n");
}

// The summary of rendered sentences.
std::string summaryOf(const std::vector<std::string>& sentences) {
    const ModeRules& r = modeRules();
    const bool collect = sentences.size() >= 3;

    std::vector<std::string> blocks;
    std::vector<std::string> paragraph;
    std::vector<std::string> list;
    std::vector<std::string> decisions;
    std::vector<std::string> actions;
    auto flushParagraph = [&] {
        if (paragraph.empty()) return;
        blocks.push_back(join(paragraph, " "));
        paragraph.clear();
    };
    auto flushList = [&] {
        if (list.empty()) return;
        blocks.push_back(dashedList(list));
        list.clear();
    };

    for (const std::string& s : sentences) {
        if (collect && !hasAtLeastWords(s, 21)) {
            if (r.decision.search(s)) {
                decisions.push_back(capitalizeSentences(s, Closing::period));
                continue;
            }
            if (r.action.search(s)) {
                actions.push_back(capitalizeSentences(s, Closing::period));
                continue;
            }
        }
        if (const auto cue = r.listItem.firstMatch(s)) {
            flushParagraph();
            list.push_back(
                capitalizeSentences(std::string_view(s).substr(cue->end), Closing::period));
            continue;
        }
        flushList();
        if (const auto shift = r.topicShift.firstMatch(s)) {
            flushParagraph();
            paragraph.push_back(
                capitalizeSentences(std::string_view(s).substr(shift->end), Closing::period));
            continue;
        }
        paragraph.push_back(capitalizeSentences(s, Closing::period));
        if (paragraph.size() == 3) flushParagraph();
    }
    flushList();
    flushParagraph();
    if (!decisions.empty()) blocks.push_back("Decisions\n" + dashedList(decisions));
    if (!actions.empty()) blocks.push_back("Action items\n" + dashedList(actions));
    return join(blocks, "\n\n");
}

} // namespace

std::string localProfessional(std::string_view text) {
    return professionalOf(renderedSentences(cleanedSentences(text)));
}

std::string localSummarize(std::string_view text) {
    return summaryOf(renderedSentences(cleanedSentences(text)));
}

std::string localExpand(std::string_view text) {
    return expandFrom(text, localProfessional(text));
}

std::vector<std::string> numberTokens(std::string_view text) {
    std::vector<std::string> tokens;
    for (const RegexMatch& match : modeRules().number.allMatches(text))
        tokens.push_back(match.text());
    return tokens;
}

std::string factGuardrail(std::string_view cleaned, std::string_view candidate) {
    const std::vector<std::string> kept = numberTokens(cleaned);
    if (kept.empty()) return std::string(candidate);
    const std::vector<std::string> offered = numberTokens(candidate);
    const std::unordered_set<std::string> present(offered.begin(), offered.end());
    for (const std::string& number : kept) {
        if (!present.contains(number)) return std::string(cleaned);
    }
    return std::string(candidate);
}

std::string localModeTransform(std::string_view text, DeliverMode mode,
                               const std::string& modeRulesPath) {
    switch (mode) {
    case DeliverMode::ask:
    case DeliverMode::raw:
        return std::string(text);
    case DeliverMode::professional:
    case DeliverMode::summarize:
    case DeliverMode::agent:
    case DeliverMode::expand:
        break;
    }
    // Every mode starts from the same cleaned sentences; clean them once.
    const std::vector<std::string> sentences = cleanedSentences(text);
    const std::vector<std::string> rendered = renderedSentences(sentences);
    std::string cleaned = professionalOf(rendered);
    switch (mode) {
    case DeliverMode::ask:
    case DeliverMode::raw:
    case DeliverMode::professional:
        return cleaned;
    case DeliverMode::summarize:
        return factGuardrail(cleaned, summaryOf(rendered));
    case DeliverMode::agent: {
        const auto brief = agentBriefOf(sentences, agentCueTable(modeRulesPath));
        return brief ? factGuardrail(cleaned, *brief) : cleaned;
    }
    case DeliverMode::expand:
        return factGuardrail(cleaned, expandFrom(text, cleaned));
    }
    return cleaned;
}

} // namespace vak
