#include "rewrite/polish.h"

#include "base/unicode.h"
#include "rewrite/prompts.h"
#include "rewrite/providers.h"

#include <algorithm>
#include <array>

namespace vak {

namespace {

// Refusals and chatty preambles: pasting them would replace the user's words with the model's.
constexpr std::array<std::string_view, 5> kRejectedPrefixes = {
    "i can't", "i cannot", "i'm sorry", "here is the rewritten", "here's the rewritten"};

enum class PolishKind { ForAI, ForText };

// Words as the time limits count them: the non-empty pieces between single spaces.
std::size_t polishWordCount(std::string_view text) {
    std::size_t count = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find(' ', start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) ++count;
        start = end + 1;
    }
    return count;
}

std::optional<std::string> polish(std::string_view text, PolishKind kind,
                                  const RewriteSettings& settings) {
    if (trim(text).empty()) return std::nullopt;
    const auto words = static_cast<double>(polishWordCount(text));
    const bool forAI = kind == PolishKind::ForAI;
    const double timeoutSeconds = forAI ? std::max(words * 0.25, 30.0) : std::max(words / 5, 25.0);
    const std::string instruction =
        std::string(forAI ? POLISH_INSTRUCTION : POLISH_TEXT_INSTRUCTION) +
        contextSuffix(settings.style);
    const auto answer = rewriteViaProviders(
        text, timeoutSeconds, forAI ? "summarize" : "professional", instruction, settings);
    if (!answer) return std::nullopt;
    // A rewrite much shorter than the transcript has dropped content.
    const std::size_t length = graphemeCount(text);
    const std::size_t floor = forAI ? 3 * length / 5 : length / 2;
    return acceptedAnswer(*answer, kRejectedPrefixes, floor);
}

} // namespace

std::optional<std::string> acceptedAnswer(std::string_view answer,
                                          std::span<const std::string_view> rejectedPrefixes,
                                          std::size_t minimumCharacters) {
    std::string trimmed = trim(answer);
    if (trimmed.empty()) return std::nullopt;
    std::string lower = toLower(trimmed);
    // Models often write "I’m sorry" with a typographic apostrophe.
    for (std::size_t at = lower.find("\u2019"); at != std::string::npos;
         at = lower.find("\u2019", at + 1))
        lower.replace(at, 3, "'");
    for (const auto prefix : rejectedPrefixes) {
        if (lower.starts_with(prefix)) return std::nullopt;
    }
    if (minimumCharacters > 0 && graphemeCount(trimmed) < minimumCharacters) return std::nullopt;
    return trimmed;
}

std::optional<std::string> polishForAI(std::string_view text, const RewriteSettings& settings) {
    return polish(text, PolishKind::ForAI, settings);
}

std::optional<std::string> polishForText(std::string_view text, const RewriteSettings& settings) {
    return polish(text, PolishKind::ForText, settings);
}

} // namespace vak
