#pragma once

#include "platform/frontmost_app.h"
#include "platform/key_synth.h"
#include "platform/pasteboard.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vak {

class MainQueue;

// A deep copy of everything `board` holds (every item, every readable type).
PasteboardSnapshot snapshotPasteboard(Pasteboard& board);

// What became of a text handed to TextInserter::insert.
enum class InsertOutcome {
    Pasted,         // the paste key went to the focused window
    NothingFocused, // no window had the focus: the text stays on the pasteboard, nothing typed
    KeysFailed,     // the paste key could not be typed: the text stays on the pasteboard
    Unreachable,    // no synthesiser reaches the focused window: the text stays, nothing typed
    Pending,        // the paste key follows after the keys' lead: the outcome is still to come
};

struct InsertResult {
    InsertOutcome outcome = InsertOutcome::Pasted;
    KeyChord pasteKey; // what the focused application pastes with, for the user to press
};

// Types text into the focused application by borrowing the pasteboard: it keeps what the
// pasteboard held, puts the text there, sends the application's paste shortcut (paste_style.h),
// and 1.5 s later puts the user's contents back, unless someone wrote to the pasteboard in the
// meantime. Pastes in quick succession keep the snapshot taken before the first, so the user's
// contents come back, never an intermediate paste of ours. An empty pasteboard before the paste
// leaves the text there. Where the paste key reads the PRIMARY selection (xterm), the text goes
// there too and PRIMARY is given back the same way.
//
// When the text cannot be typed (no window has the focus, the keys would not reach the focused
// window, or no key could be sent) it stays on the pasteboard for the user to paste, and counts
// as theirs: a later paste gives it back.
//
// Main thread only. The restore timers hold the inserter weakly.
class TextInserter final : public std::enable_shared_from_this<TextInserter> {
  public:
    // Where reads of the pasteboard cannot be seen: the fixed wait before the restore.
    static constexpr double kRestoreDelaySeconds = 1.5;
    // Where they can: the restore follows the focused application's read by this much (its
    // transfer ends first), and comes after this long without one.
    static constexpr double kReadGraceSeconds = 0.3;
    static constexpr double kRestoreBoundSeconds = 8.0;

    struct Services {
        std::shared_ptr<Pasteboard> pasteboard;
        std::shared_ptr<KeySynth> keys;
        std::shared_ptr<FrontmostApp> frontmost;
        // The PRIMARY selection; without one, text is pasted through the pasteboard only.
        std::shared_ptr<Pasteboard> selection;
    };

    struct Settings {
        // POLISH_APPS: applications that get straight quotes and dots (typography.h).
        std::string codeApps;
    };

    static std::shared_ptr<TextInserter> create(MainQueue& queue, Services services,
                                                Settings settings = {});
    TextInserter(const TextInserter&) = delete;
    TextInserter& operator=(const TextInserter&) = delete;

    // Pastes `text`, adapted to the focused application's typography, and arranges the restore.
    // `done` hears what became of it once the paste key was sent or could not be: at once, or,
    // where the keys need a lead (KeySynth::leadSeconds), that much later on the main queue.
    using Done = std::function<void(const InsertResult&)>;
    void insert(std::string_view text, Done done);
    // The same where the outcome is wanted at once: Pending while a lead's key is still to come.
    InsertResult insert(std::string_view text);

    // The pasteboard as it was before our first paste in a row.
    const PasteboardSnapshot& savedItems() const { return clipboard_.saved; }
    // The pasteboard's change count right after our last paste; -1 before the first, and after
    // a text that could not be typed.
    long lastInsertChangeCount() const { return clipboard_.lastChangeCount; }

  private:
    // One borrowed board: what it held before our first write in a row, and our last write.
    struct Borrowed {
        PasteboardSnapshot saved;
        long lastChangeCount = -1;
    };

    TextInserter(MainQueue& queue, Services services, Settings settings);
    // Puts `text` on `board`, keeping a snapshot of the user's contents in `borrowed` first;
    // returns the change count of our write.
    static long lend(Pasteboard& board, Borrowed& borrowed, const std::string& text);
    // Gives `board` (PRIMARY when `primary`) back once the focused application has read it (or
    // after the fixed delay, or the bound), unless it changed since.
    void restoreLater(std::shared_ptr<Pasteboard> board, bool primary, long changeCount);
    // Waits for the read, looking again every tenth of a second.
    void awaitRead(std::shared_ptr<Pasteboard> board, bool primary, long changeCount,
                   double waited);
    void restore(Pasteboard& board, bool primary, long changeCount);

    MainQueue& queue_;
    Services services_;
    const Settings settings_;
    Borrowed clipboard_;
    Borrowed primary_;
    bool lentBoth_ = false; // the last paste went through PRIMARY too
};

} // namespace vak
