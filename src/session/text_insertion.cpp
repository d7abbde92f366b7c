#include "session/text_insertion.h"

#include "base/log.h"
#include "base/main_queue.h"
#include "platform/paste_style.h"
#include "text/typography.h"

#include <algorithm>
#include <string>

namespace vak {

PasteboardSnapshot snapshotPasteboard(Pasteboard& board) {
    return board.snapshot();
}

std::shared_ptr<TextInserter> TextInserter::create(MainQueue& queue, Services services,
                                                   Settings settings) {
    return std::shared_ptr<TextInserter>(
        new TextInserter(queue, std::move(services), std::move(settings)));
}

TextInserter::TextInserter(MainQueue& queue, Services services, Settings settings)
    : queue_(queue), services_(std::move(services)), settings_(std::move(settings)) {}

long TextInserter::lend(Pasteboard& board, Borrowed& borrowed, const std::string& text) {
    // An unchanged count means the board still holds our previous paste: the snapshot taken
    // before it is still the user's.
    if (board.changeCount() != borrowed.lastChangeCount) borrowed.saved = snapshotPasteboard(board);
    board.clear();
    board.setText(text);
    return board.changeCount();
}

InsertResult TextInserter::insert(std::string_view text) {
    // Shared: with a lead, `done` runs after this returns.
    auto result = std::make_shared<InsertResult>(InsertResult{InsertOutcome::Pending, {}});
    insert(text, [result](const InsertResult& outcome) { *result = outcome; });
    return *result;
}

void TextInserter::insert(std::string_view text, Done done) {
    if (!done) done = [](const InsertResult&) {};
    const FocusedApp focus = services_.frontmost->focused();
    // A terminal gets the text as typed whether POLISH_APPS names it or not: a curly apostrophe
    // or an ellipsis in a command line makes it another command.
    const bool terminal = isTerminal(focus.identifier);
    const std::string out =
        terminal ? std::string(text) : smartTypography(text, focus.identifier, settings_.codeApps);
    const PasteStyle& style = pasteStyleFor(focus.identifier);
    const long changeCount = lend(*services_.pasteboard, clipboard_, out);
    // Left for the user: from now on it is their contents, which a later paste gives back.
    const auto leave = [&](InsertOutcome outcome) {
        clipboard_.lastChangeCount = -1;
        done(InsertResult{outcome, style.paste});
    };
    if (!focus.anyWindow) return leave(InsertOutcome::NothingFocused);
    if (!services_.keys->reaches(focus)) return leave(InsertOutcome::Unreachable);
    lentBoth_ = style.pastesPrimary && services_.selection;
    if (lentBoth_) {
        primary_.lastChangeCount = lend(*services_.selection, primary_, out);
        restoreLater(services_.selection, true, primary_.lastChangeCount);
    }
    const double lead = services_.keys->leadSeconds();
    if (lead > 0) {
        // The key follows once the loop has handed the compositor our text; only then is it
        // known whether the paste went out. Should it fail, the text stays as the user's.
        std::weak_ptr<TextInserter> weak = weak_from_this();
        queue_.after(
            lead, [weak, keys = services_.keys, chord = style.paste, done = std::move(done)] {
                const bool sent = keys->send(chord);
                if (const auto self = weak.lock(); self && !sent)
                    self->clipboard_.lastChangeCount = -1;
                done(InsertResult{sent ? InsertOutcome::Pasted : InsertOutcome::KeysFailed, chord});
            });
    } else if (!services_.keys->send(style.paste)) {
        return leave(InsertOutcome::KeysFailed);
    }
    clipboard_.lastChangeCount = changeCount;
    restoreLater(services_.pasteboard, false, changeCount);
    if (lead <= 0) done(InsertResult{InsertOutcome::Pasted, style.paste});
}

void TextInserter::restoreLater(std::shared_ptr<Pasteboard> board, bool primary, long changeCount) {
    std::weak_ptr<TextInserter> weak = weak_from_this();
    // A busy application may read the paste seconds after its key: given back earlier, it would
    // paste the user's old contents instead. Where reads can be seen, wait for one.
    if (board->readCount()) {
        awaitRead(std::move(board), primary, changeCount, 0);
        return;
    }
    queue_.after(kRestoreDelaySeconds, [weak, board, primary, changeCount] {
        if (const auto self = weak.lock()) self->restore(*board, primary, changeCount);
    });
}

void TextInserter::awaitRead(std::shared_ptr<Pasteboard> board, bool primary, long changeCount,
                             double waited) {
    constexpr double kLook = 0.1;
    std::weak_ptr<TextInserter> weak = weak_from_this();
    queue_.after(kLook, [weak, board, primary, changeCount, waited] {
        const auto self = weak.lock();
        // Someone copied (or we pasted again): nothing to wait for.
        if (!self || board->changeCount() != changeCount) return;
        // Where the paste key may read either selection (xterm), a read of one is the paste.
        const auto read = [](const std::shared_ptr<Pasteboard>& lent) {
            return lent && lent->readCount().value_or(1) > 0;
        };
        const auto& other = primary ? self->services_.pasteboard : self->services_.selection;
        if (read(board) || (self->lentBoth_ && read(other))) {
            // A read by anyone (a clipboard manager, first) is not known to be the paste's: then
            // no sooner than the fixed delay.
            const double now = waited + kLook;
            const double earliest = board->readsOfFocusedAppOnly() ? 0 : kRestoreDelaySeconds;
            const double delay = std::max(kReadGraceSeconds, earliest - now);
            self->queue_.after(delay, [weak, board, primary, changeCount] {
                if (const auto inserter = weak.lock())
                    inserter->restore(*board, primary, changeCount);
            });
            return;
        }
        // Half a look's margin: the sum of the looks is not exact.
        if (waited + kLook < kRestoreBoundSeconds - kLook / 2) {
            self->awaitRead(board, primary, changeCount, waited + kLook);
            return;
        }
        log(LogLevel::info, std::string(primary ? "PRIMARY" : "clipboard") +
                                " given back without a read — the focused window did not take "
                                "the paste within " +
                                std::to_string(static_cast<int>(kRestoreBoundSeconds)) + " s");
        self->restore(*board, primary, changeCount);
    });
}

void TextInserter::restore(Pasteboard& board, bool primary, long changeCount) {
    // Someone copied (or selected) after our paste: the newer contents win.
    if (board.changeCount() != changeCount) return;
    // Our text was left to the user (its paste key failed after all).
    if (!primary && clipboard_.lastChangeCount != changeCount) return;
    const PasteboardSnapshot& saved = (primary ? primary_ : clipboard_).saved;
    // Nothing saved: the clipboard keeps our text (the user may want it again), while PRIMARY,
    // which the user never asked us to fill, goes back to empty.
    if (saved.empty() && !primary) return;
    board.clear();
    if (!saved.empty()) board.write(saved);
}

} // namespace vak
