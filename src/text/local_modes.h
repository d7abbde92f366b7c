#pragma once

#include "foundation/deliver_mode.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vak {

// The offline renderer of every writing mode. The summary, brief and expanded texts fall back to
// the professional text when they would lose one of its numbers (factGuardrail); the plain and
// ask modes return the text unchanged. The agent brief adds the user's cues from the mode-rules
// file `modeRulesPath` (agentCueTable); without a path, only the built-in ones.
std::string localModeTransform(std::string_view text, DeliverMode mode,
                               const std::string& modeRulesPath = {});

// A clean message: sentences tidied, run-ons split, questions marked, a spoken greeting and
// sign-off on their own lines, the body in paragraphs of three sentences.
std::string localProfessional(std::string_view text);
// A digest: enumerated points as a dashed list, topic shifts as new paragraphs, decisions and
// action items collected under their own headings.
std::string localSummarize(std::string_view text);
// The professional text followed by the open questions the request leaves.
std::string localExpand(std::string_view text);

// Splits at ", and ", ", but " and ", so " where both sides keep at least four words.
std::vector<std::string> splitRunOns(std::string_view sentence);
// "Can you send it." → "Can you send it?"
std::string inferQuestion(std::string_view sentence);

struct GreetingSplit {
    std::optional<std::string> greeting; // "Hi Sarah,"
    std::vector<std::string> rest;
};
// Takes a short spoken greeting ("hi sarah.") off the front.
GreetingSplit splitGreeting(std::vector<std::string> sentences);

struct SignoffSplit {
    std::vector<std::string> rest;
    std::optional<std::string> signoff; // "Thanks."
};
// Takes a short sign-off ("thanks", "talk soon") off the end.
SignoffSplit splitSignoff(std::vector<std::string> sentences);

// The numbers of a text as written, in order: "1,500", "3.5", "2026", "7".
std::vector<std::string> numberTokens(std::string_view text);
// The candidate, unless it lacks a number of the cleaned text; then the cleaned text.
std::string factGuardrail(std::string_view cleaned, std::string_view candidate);

} // namespace vak
