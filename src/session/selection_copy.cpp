#include "session/selection_copy.h"

#include "base/main_queue.h"
#include "base/unicode.h"
#include "platform/paste_style.h"

namespace vak {

namespace {

// Text that is only blanks and line breaks is no selection.
std::optional<std::string> selectionFrom(std::optional<std::string> text) {
    if (text && trim(*text).empty()) text.reset();
    return text;
}

} // namespace

void copySelection(MainQueue& queue, const TextInserter::Services& services,
                   std::function<void(std::optional<std::string> selection)> done) {
    const FocusedApp focus = services.frontmost->focused();
    const PasteStyle& style = pasteStyleFor(focus.identifier);
    if (!style.copy) {
        // Selecting is copying there (xterm): the selection is PRIMARY, and no key is sent.
        queue.post([selection = services.selection, done = std::move(done)] {
            done(selectionFrom(selection ? selection->text() : std::nullopt));
        });
        return;
    }
    Pasteboard& board = *services.pasteboard;
    const long before = board.changeCount();
    PasteboardSnapshot saved = snapshotPasteboard(board);
    // A copy key that cannot arrive would only wait for nothing.
    if (!services.keys->reaches(focus)) {
        queue.post([done = std::move(done)] { done(std::nullopt); });
        return;
    }
    services.keys->send(*style.copy);
    queue.after(SELECTION_COPY_WAIT_SECONDS, [board = services.pasteboard, before,
                                              saved = std::move(saved), done = std::move(done)] {
        std::optional<std::string> selection;
        const bool changed = board->changeCount() != before;
        if (changed) {
            selection = selectionFrom(board->text());
            if (!saved.empty()) {
                board->clear();
                board->write(saved);
            }
        }
        done(std::move(selection));
    });
}

} // namespace vak
