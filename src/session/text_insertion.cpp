#include "session/text_insertion.h"

#include "base/main_queue.h"
#include "platform/paste_style.h"
#include "text/typography.h"

#include <string>

namespace vak {

PasteboardSnapshot snapshotPasteboard(Pasteboard& board) {
    return board.snapshot();
}

TextInserter::Services TextInserter::Services::installed() {
    return {vak::pasteboard(), keySynth(), frontmostApp(), primarySelection()};
}

std::shared_ptr<TextInserter> TextInserter::create(MainQueue& queue, Services services) {
    return std::shared_ptr<TextInserter>(new TextInserter(queue, std::move(services)));
}

TextInserter::TextInserter(MainQueue& queue, Services services)
    : queue_(queue), services_(std::move(services)) {}

long TextInserter::lend(Pasteboard& board, Borrowed& borrowed, const std::string& text) {
    // An unchanged count means the board still holds our previous paste: the snapshot taken
    // before it is still the user's.
    if (board.changeCount() != borrowed.lastChangeCount) borrowed.saved = snapshotPasteboard(board);
    board.clear();
    board.setText(text);
    return board.changeCount();
}

InsertOutcome TextInserter::insert(std::string_view text) {
    const FocusedApp focus = services_.frontmost->focused();
    const std::string out = smartTypography(text, focus.identifier);
    const long changeCount = lend(*services_.pasteboard, clipboard_, out);
    if (!focus.anyWindow) {
        // Left for the user: from now on it is their contents, which a later paste gives back.
        clipboard_.lastChangeCount = -1;
        return InsertOutcome::NothingFocused;
    }
    const PasteStyle& style = pasteStyleFor(focus.identifier);
    if (style.pastesPrimary && services_.selection) {
        primary_.lastChangeCount = lend(*services_.selection, primary_, out);
        restoreLater(services_.selection, true, primary_.lastChangeCount);
    }
    if (!services_.keys->send(style.paste)) {
        clipboard_.lastChangeCount = -1;
        return InsertOutcome::KeysFailed;
    }
    clipboard_.lastChangeCount = changeCount;
    restoreLater(services_.pasteboard, false, changeCount);
    return InsertOutcome::Pasted;
}

void TextInserter::restoreLater(std::shared_ptr<Pasteboard> board, bool primary, long changeCount) {
    std::weak_ptr<TextInserter> weak = weak_from_this();
    queue_.after(kRestoreDelaySeconds, [weak, board, primary, changeCount] {
        // Someone copied (or selected) after our paste: the newer contents win.
        if (board->changeCount() != changeCount) return;
        const auto self = weak.lock();
        if (!self) return;
        const PasteboardSnapshot& saved = (primary ? self->primary_ : self->clipboard_).saved;
        // Nothing saved: the clipboard keeps our text (the user may want it again), while
        // PRIMARY, which the user never asked us to fill, goes back to empty.
        if (saved.empty() && !primary) return;
        board->clear();
        if (!saved.empty()) board->write(saved);
    });
}

} // namespace vak
