#include "session/text_insertion.h"

#include "base/main_queue.h"
#include "text/typography.h"

#include <string>

namespace vak {

PasteboardSnapshot snapshotPasteboard(Pasteboard& board) {
    return board.snapshot();
}

TextInserter::Services TextInserter::Services::installed() {
    return {vak::pasteboard(), keySynth(), frontmostApp()};
}

std::shared_ptr<TextInserter> TextInserter::create(MainQueue& queue, Services services) {
    return std::shared_ptr<TextInserter>(new TextInserter(queue, std::move(services)));
}

TextInserter::TextInserter(MainQueue& queue, Services services)
    : queue_(queue), services_(std::move(services)) {}

void TextInserter::insert(std::string_view text) {
    Pasteboard& board = *services_.pasteboard;
    const std::string bundle = services_.frontmost->identifier();
    const std::string out = smartTypography(text, bundle);
    // An unchanged count means the pasteboard still holds our previous paste: the snapshot
    // taken before it is still the user's.
    if (board.changeCount() != lastInsertChangeCount_) savedItems_ = snapshotPasteboard(board);
    board.clear();
    board.setText(out);
    const long changeCount = board.changeCount();
    lastInsertChangeCount_ = changeCount;
    services_.keys->send(SyntheticShortcut::Paste, bundle);
    std::weak_ptr<TextInserter> weak = weak_from_this();
    queue_.after(kRestoreDelaySeconds, [weak, board = services_.pasteboard, changeCount] {
        // Someone copied after our paste: the newer contents win.
        if (board->changeCount() != changeCount) return;
        if (const auto self = weak.lock()) self->restore();
    });
}

void TextInserter::restore() {
    // Nothing saved (the pasteboard was empty): our text stays.
    if (savedItems_.empty()) return;
    Pasteboard& board = *services_.pasteboard;
    board.clear();
    board.write(savedItems_);
}

} // namespace vak
