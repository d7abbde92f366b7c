#pragma once

#include "session/text_insertion.h"

#include <functional>
#include <optional>
#include <string>

namespace vak {

class MainQueue;

// How long the focused application gets to answer the synthetic copy.
inline constexpr double SELECTION_COPY_WAIT_SECONDS = 0.25;

// Copies the text selected in the focused application: notes the pasteboard's change count and
// a snapshot, sends the application's copy shortcut (paste_style.h), and 0.25 s later reads what
// arrived. The selection is the pasteboard's plain text as copied (untrimmed) when the pasteboard
// changed and that text is not only blanks and line breaks; otherwise there is none. Before
// `done` runs, the user's contents are put back, when the copy changed the pasteboard and there
// was something to put back. Where selecting already copies (xterm), the selection is the
// PRIMARY selection's text, read without a key.
//
// Main thread only; `done` runs on the main queue. The caller decides what a late answer means
// (it may be recording by then): `done` always runs, and the pasteboard is back either way.
void copySelection(MainQueue& queue, const TextInserter::Services& services,
                   std::function<void(std::optional<std::string> selection)> done);

} // namespace vak
