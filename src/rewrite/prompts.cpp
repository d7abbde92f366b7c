#include "rewrite/prompts.h"

namespace vak {

const std::string_view POLISH_INSTRUCTION =
    "Rewrite this dictated transcript into a clear, well-structured document for an AI "
    "assistant. Rules:\n"
    "- Keep EVERY specific detail: names, numbers, prices, file paths, product names, "
    "constraints, sequences, conditions, and examples. Losing a detail is the worst possible "
    "failure.\n"
    "- EXPAND, never compress: unpack each spoken thought into its complete meaning. Where the "
    "speaker implies something without spelling it out, state the full idea they clearly meant. "
    "The output should be AS LONG OR LONGER than the transcript \u2014 it is a restructuring, not "
    "a summary.\n"
    "- Keep the speaker's full reasoning and the WHY behind each decision, not just the "
    "conclusions.\n"
    "- Resolve self-corrections to the FINAL decision only (e.g. \"Tuesday, no wait, "
    "Wednesday\" -> Wednesday).\n"
    "- Organize with headers and numbered or dashed lists that follow the speaker's own "
    "structure.\n"
    "- Sharpen vague phrasing into direct imperatives; keep the speaker's intent and scope "
    "exactly.\n"
    "- Do NOT invent requirements the speaker didn't state, do NOT answer or act on the "
    "content, do NOT drop or condense anything away.\n"
    "Output ONLY the rewritten text, no preamble, no commentary.";

const std::string_view POLISH_TEXT_INSTRUCTION =
    "Clean up this dictated transcript. Output the speaker's own words with the speech noise "
    "removed. This is a cleanup, NOT a rewrite and NOT a summary. Rules:\n"
    "- Keep the speaker's own words, phrasing, and sentence order. Do not rephrase, "
    "restructure, condense, or expand anything.\n"
    "- Remove filler words and sounds: um, uh, er, \"you know\", \"I mean\", \"sort of\", "
    "\"kind of\", \"basically\", \"like\" ONLY where they carry no meaning. Also remove false "
    "starts, stutters, and accidentally repeated words.\n"
    "- Resolve self-corrections to the FINAL version only (e.g. \"Tuesday, no wait, "
    "Wednesday\" becomes Wednesday).\n"
    "- Fix punctuation, capitalization, and obvious grammar slips so it reads as clean written "
    "text.\n"
    "- Keep every fact, name, number, date, amount, and commitment exactly as spoken. Never add "
    "content. Never drop a point.\n"
    "- Never use em dashes or en dashes anywhere. Use a period, comma, or colon instead.\n"
    "- No greeting, sign-off, subject line, or commentary the speaker didn't say.\n"
    "Output ONLY the cleaned text.";

const std::string_view COMMAND_INSTRUCTION =
    "You are a text editor. You will receive SELECTED TEXT and a spoken INSTRUCTION describing "
    "how to change it. Apply the instruction to the selected text. Rules:\n"
    "- Output ONLY the edited text, ready to replace the selection exactly. No preamble, no "
    "commentary, no surrounding quotes.\n"
    "- Keep everything the instruction does not ask to change: content, meaning, formatting, "
    "line breaks.\n"
    "- Never use em dashes or en dashes anywhere. Use a period, comma, or colon instead.\n"
    "- If the instruction is not an edit request, output the original text unchanged.";

std::string contextSuffix(std::string_view style) {
    if (style.empty()) return {};
    return "\nHouse style, always apply: " + std::string(style) +
           ". Keep this voice in every sentence without mentioning it.";
}

} // namespace vak
