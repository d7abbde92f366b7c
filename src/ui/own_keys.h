#pragma once

#include "platform/key_monitor.h"

#include <QObject>
#include <array>
#include <cstddef>
#include <cstdint>

namespace vak {

// Tells the key presses that went to our own windows (the mode menu, the settings window, the
// first-run note) from those that went to other applications: the global key monitor sees both,
// and Escape that closes our menu must not cancel the recording, nor a key chosen in the
// settings window start one. Either order of arrival is caught: while one of ours has the
// keyboard the monitor's event is ours, and once it has let go, a key event Qt handed us with
// the same time stamp says so. Main thread.
class OwnKeys final : public QObject {
  public:
    // Watches every key event the application receives from now on.
    OwnKeys();
    ~OwnKeys() override;
    OwnKeys(const OwnKeys&) = delete;
    OwnKeys& operator=(const OwnKeys&) = delete;

    bool ours(const InputEvent& event) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The time stamps of the latest key events we received (0: none yet).
    std::array<std::uint32_t, 32> seen_{};
    std::size_t next_ = 0;
};

} // namespace vak
