#pragma once

#include "base/regex.h"

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vak {

// Spoken snippets: lower-case trigger phrase → text to insert.
using SnippetMap = std::map<std::string, std::string>;

// Reads "trigger = text" lines: blank lines, "#" comments and lines without "=" are ignored, the
// trigger is lower-cased, "\n" written in the text becomes a line break, and a later line wins
// over an earlier one with the same trigger. Windows line endings are accepted.
SnippetMap parseSnippets(std::string_view content);
// The snippets file at `path`; empty when it is missing or unreadable.
SnippetMap loadSnippets(const std::string& path);

// Replaces "snippet TRIGGER" (also "insert snippet TRIGGER" and "snippet, TRIGGER") by the
// trigger's text, inserted literally and once: a trigger named inside an inserted text stays as
// it is. Longer triggers are tried first, so a trigger that begins another one never takes its
// place.
class SnippetExpander {
  public:
    explicit SnippetExpander(const SnippetMap& snippets);
    std::string apply(std::string_view text) const;
    std::size_t size() const { return texts_.size(); }

  private:
    Regex pattern_;                  // one group per trigger, longest first
    std::vector<std::string> texts_; // the text of each group's trigger
};

} // namespace vak
