#pragma once

#include "rewrite/rewrite_settings.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vak {

// The two model rewrites of a transcript. Both block for up to their time limit (call them off
// the main thread) and yield the trimmed rewrite, or nothing when every provider failed, the
// answer was empty, a refusal or preamble, or suspiciously short. Empty input yields nothing
// without asking any provider.

// Restructures a ramble into a complete document for an AI assistant (proxy mode "summarize").
std::optional<std::string> polishForAI(std::string_view text, const RewriteSettings& settings);

// Removes speech noise and keeps the speaker's words (proxy mode "professional").
std::optional<std::string> polishForText(std::string_view text, const RewriteSettings& settings);

// Trims `answer` (blanks and line breaks); nothing when that leaves it empty, when it starts
// with one of `rejectedPrefixes` in any letter case (a typographic apostrophe counts as "'"), or
// when it has fewer than `minimumCharacters` user-perceived characters.
std::optional<std::string> acceptedAnswer(std::string_view answer,
                                          std::span<const std::string_view> rejectedPrefixes,
                                          std::size_t minimumCharacters = 0);

} // namespace vak
