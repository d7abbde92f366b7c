#include "session/selection_copy.h"

#include "base/main_queue.h"
#include "base/unicode.h"

namespace vak {

void copySelection(MainQueue& queue, const TextInserter::Services& services,
                   std::function<void(std::optional<std::string> selection)> done) {
    Pasteboard& board = *services.pasteboard;
    const long before = board.changeCount();
    PasteboardSnapshot saved = snapshotPasteboard(board);
    services.keys->send(SyntheticShortcut::Copy, services.frontmost->identifier());
    queue.after(SELECTION_COPY_WAIT_SECONDS, [board = services.pasteboard, before,
                                              saved = std::move(saved), done = std::move(done)] {
        std::optional<std::string> selection;
        const bool changed = board->changeCount() != before;
        if (changed) {
            selection = board->text();
            if (selection && trim(*selection).empty()) selection.reset();
            if (!saved.empty()) {
                board->clear();
                board->write(saved);
            }
        }
        done(std::move(selection));
    });
}

} // namespace vak
