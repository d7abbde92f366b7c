#pragma once

#include "platform/frontmost_app.h"
#include "platform/key_synth.h"
#include "platform/pasteboard.h"

#include <memory>
#include <string_view>

namespace vak {

class MainQueue;

// A deep copy of everything `board` holds (every item, every readable type).
PasteboardSnapshot snapshotPasteboard(Pasteboard& board);

// Types text into the focused application by borrowing the pasteboard: it keeps what the
// pasteboard held, puts the text there, sends the paste shortcut, and 1.5 s later puts the
// user's contents back, unless someone wrote to the pasteboard in the meantime. Pastes in quick
// succession keep the snapshot taken before the first, so the user's contents come back, never
// an intermediate paste of ours. An empty pasteboard before the paste leaves the text there.
//
// Main thread only. The restore timer holds the inserter weakly.
class TextInserter final : public std::enable_shared_from_this<TextInserter> {
  public:
    static constexpr double kRestoreDelaySeconds = 1.5;

    struct Services {
        std::shared_ptr<Pasteboard> pasteboard;
        std::shared_ptr<KeySynth> keys;
        std::shared_ptr<FrontmostApp> frontmost;

        // The process's installed services.
        static Services installed();
    };

    static std::shared_ptr<TextInserter> create(MainQueue& queue,
                                                Services services = Services::installed());
    TextInserter(const TextInserter&) = delete;
    TextInserter& operator=(const TextInserter&) = delete;

    // Pastes `text`, adapted to the focused application's typography, and arranges the restore.
    void insert(std::string_view text);

    // The pasteboard as it was before our first paste in a row.
    const PasteboardSnapshot& savedItems() const { return savedItems_; }
    // The pasteboard's change count right after our last write; -1 before the first.
    long lastInsertChangeCount() const { return lastInsertChangeCount_; }

  private:
    TextInserter(MainQueue& queue, Services services);
    void restore();

    MainQueue& queue_;
    Services services_;
    PasteboardSnapshot savedItems_;
    long lastInsertChangeCount_ = -1;
};

} // namespace vak
