#pragma once

#include "text/learned_words.h"
#include "text/system_words.h"

#include <string>
#include <string_view>
#include <vector>

namespace vak {

// The user files the pipeline reads on every call, so edits apply to the next transcript.
struct TranscriptSources {
    LearnedFiles learned;
    std::string snippets;
    const SystemWords* commonWords = nullptr; // null: the system's word list

    // The files of `values` under ~/.dictation.
    static TranscriptSources from(const ProcessValues& values);
    const SystemWords& common() const;
};

// A formatted transcript and the misheard forms its sound-alike stage corrected, which
// recordVariantNotes turns into candidates and learned variants.
struct FormattedTranscript {
    std::string text;
    std::vector<VariantNote> notes;
};

// The formatting pipeline every transcript passes before delivery: engine markers, hesitations
// and repetition loops out; spoken layout commands, brand spellings, learned words and snippets
// in; spacing, sentence casing and a closing period. Never fails; empty in, empty out. Reads the
// user's files and writes none.
FormattedTranscript formatTranscript(std::string_view raw, const TranscriptSources& sources);

// formatTranscript, then recordVariantNotes: how the daemon and the command-line modes format, so
// the dictionary keeps teaching itself.
std::string formatAndLearn(std::string_view raw, const TranscriptSources& sources);

} // namespace vak
