#pragma once

#include "platform/pasteboard.h"

namespace vak {

// An in-memory pasteboard. Every write (ours through the interface, or another program's
// through copyFromOtherApp) moves the change count on, as the real ones do.
class FakePasteboard final : public Pasteboard {
  public:
    long changeCount() override { return changeCount_; }
    PasteboardSnapshot snapshot() override {
        ++snapshots_;
        return contents_;
    }
    std::optional<std::string> text() override;
    void clear() override;
    void setText(std::string_view text) override;
    void write(const PasteboardSnapshot& snapshot) override;
    std::optional<long> readCount() override {
        return seesReads_ ? std::optional<long>(reads_) : std::nullopt;
    }
    bool readsOfFocusedAppOnly() override { return focusedOnly_; }

    // From now on reads are seen: only the focused application's (X11) or anyone's (Wayland).
    void seeReads(bool focusedOnly) {
        seesReads_ = true;
        focusedOnly_ = focusedOnly;
    }
    // An application takes the text we set.
    void readByApp() { ++reads_; }

    // Another application copies `contents`.
    void copyFromOtherApp(PasteboardSnapshot contents);
    const PasteboardSnapshot& contents() const { return contents_; }
    // Whether the current contents were written by setText (and so marked transient).
    bool holdsTransientText() const { return transient_; }
    int snapshotsTaken() const { return snapshots_; }

  private:
    PasteboardSnapshot contents_;
    long changeCount_ = 0;
    bool transient_ = false;
    int snapshots_ = 0;
    bool seesReads_ = false;
    bool focusedOnly_ = false;
    long reads_ = 0;
};

// An item holding plain text only.
PasteboardItem plainTextItem(std::string_view text);

} // namespace vak
