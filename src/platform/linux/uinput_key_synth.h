#pragma once

#include "platform/key_synth.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace vak {

// What a virtual keyboard asks of /dev/uinput once it exists: events to emit. libevdev's
// uinput device in the program; a recording stand-in in tests.
class UinputDevice {
  public:
    virtual ~UinputDevice() = default;
    virtual bool write(std::uint16_t type, std::uint16_t code, std::int32_t value) = 0;
};

// Creates the program's virtual keyboard (VIRTUAL_KEYBOARD_NAME, with the keys it types);
// nothing, with `error` set, when /dev/uinput cannot be written.
using UinputFactory = std::function<std::unique_ptr<UinputDevice>(std::string* error)>;
std::unique_ptr<UinputDevice> createUinputKeyboard(std::string* error);

// Synthetic shortcuts through a virtual keyboard of the kernel's: every compositor reads it as
// one more keyboard, so it reaches native Wayland and XWayland windows alike. It types key
// positions, not letters: the compositor's layout gives them their meaning (V and C sit where
// they do on QWERTY in most layouts, not in Dvorak or Colemak).
//
// A kernel keyboard cannot lift modifier keys another keyboard holds, and the compositor merges
// the two: a shortcut waits (up to half a second) until the user has let go of theirs, so
// Ctrl+C sent right after the Alt + trigger chord is not read as Ctrl+Alt+C. The device is
// created once and kept: a compositor takes a moment to pick up a new keyboard, so the first
// shortcut after creating it waits for that.
class UinputKeySynth final : public KeySynth {
  public:
    // `heldModifiers` gives the modifier flags the user holds now (the key monitor's).
    UinputKeySynth(UinputFactory factory, std::function<std::uint64_t()> heldModifiers,
                   std::function<void(double seconds)> sleep);

    // Whether the virtual keyboard exists or can be made now; when not, why() says why.
    bool available();
    const std::string& why() const { return why_; }

    bool send(const KeyChord& chord) override;
    // Every window, once the device exists.
    bool reaches(const FocusedApp&) override { return available(); }

  private:
    bool ensureDevice();

    std::mutex mutex_;
    UinputFactory factory_;
    std::function<std::uint64_t()> heldModifiers_;
    std::function<void(double)> sleep_;
    std::unique_ptr<UinputDevice> device_;
    std::chrono::steady_clock::time_point createdAt_;
    bool settled_ = false; // the compositor has had its moment to find the device
    std::string why_;
};

} // namespace vak
