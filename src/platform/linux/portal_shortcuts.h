#pragma once

#include "platform/key_monitor.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vak {

// The trigger key through the desktop's GlobalShortcuts portal (org.freedesktop.portal
// .GlobalShortcuts, xdg-desktop-portal with a back end that has it: KDE Plasma 5.27, GNOME from
// 48): a session holding two shortcuts, dictation and command mode, whose chords the desktop
// lets the user choose (ours, SHORTCUT_CHORD, is only proposed). The portal says when a
// shortcut is pressed and when released, which reach the handler as the trigger key's own
// press and release (with Option for command mode), so taps and holds work as with the key.
// Nothing is read from the keyboard: other keys are not seen, so nothing vetoes a press.
//
// Every D-Bus call has a time limit; the session lives on a connection and a thread of its own
// and ends with the monitor (the portal then drops the shortcuts' session; the desktop keeps the
// chords the user chose for the next one).
class PortalShortcutMonitor final : public KeyMonitor {
  public:
    // `hotkey`: the trigger key whose press and release the shortcuts stand for; `chord`: the
    // trigger proposed for dictation ("Super+Alt+Space"); command mode is proposed with Shift.
    PortalShortcutMonitor(std::uint16_t hotkey, std::string chord);
    ~PortalShortcutMonitor() override;

    // Whether the portal offers GlobalShortcuts here (asked once, with a time limit).
    bool isTrusted(bool prompt) override;
    bool secureInputActive() override { return false; }
    // Creates the session and binds the shortcuts; false (why() says why) when the portal
    // refuses or does not answer in time.
    bool start(InputEventHandler handler) override;
    std::string accessName() override { return "the GlobalShortcuts portal"; }

    // The portal's interface version once asked (0: none), why the last step failed, and the
    // chords the desktop gave the two shortcuts ("dictation=Meta+Alt+Space, command=…").
    std::uint32_t version() const { return version_; }
    const std::string& why() const { return why_; }
    const std::string& triggers() const { return triggers_; }

    struct Session;

  private:
    std::uint16_t hotkey_;
    std::string chord_;
    bool asked_ = false;
    std::uint32_t version_ = 0;
    std::string why_;
    std::string triggers_;
    std::unique_ptr<Session> session_;
};

} // namespace vak
