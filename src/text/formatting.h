#pragma once

#include "text/learned_words.h"
#include "text/system_words.h"

#include <string>
#include <string_view>

namespace vak {

// The user files the pipeline reads on every call, so edits apply to the next transcript.
struct TranscriptSources {
    LearnedFiles learned;
    std::string snippets;
    const SystemWords* commonWords = nullptr; // null: the system's word list

    // The process's files under ~/.dictation.
    static TranscriptSources standard();
};

// The formatting pipeline every transcript passes before delivery: engine markers, hesitations
// and repetition loops out; spoken layout commands, brand spellings, learned words and snippets
// in; spacing, sentence casing and a closing period. Never fails; empty in, empty out.
std::string formatTranscript(std::string_view raw);
std::string formatTranscript(std::string_view raw, const TranscriptSources& sources);

} // namespace vak
