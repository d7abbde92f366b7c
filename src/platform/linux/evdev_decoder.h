#pragma once

#include "platform/key_monitor.h"
#include "platform/linux/key_translation.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct input_event;

namespace vak {

// The keysyms of the standard evdev keyboard map (X keycode = kernel key code + 8) for the keys
// the monitor tells apart: the modifiers, Caps Lock and Escape. Every other key is just a key.
std::array<std::uint32_t, 256> evdevKeysyms();

// Turns the kernel's input_event records, as read() gives them from /dev/input/event* (or from
// any pipe, for tests), into monitor events with the same virtual codes and flags as on X11:
// modifier presses and releases, other key presses, mouse-button presses and wheel turns. Key
// repeats count for nothing. The modifier flags are those of every device together; the keys
// held are counted per device, so a device that goes away releases what it held.
//
// After SYN_DROPPED (the kernel's buffer overflowed) a device's events up to the next
// SYN_REPORT are dropped, and its owner asks the device which keys it holds now and hands them
// to resync(). One thread at a time.
class EvdevDecoder {
  public:
    EvdevDecoder();

    // Records read from `device`; a record split across two reads is joined.
    std::vector<InputEvent> feed(int device, std::string_view bytes);
    // Whether `device` lost events and waits for resync().
    bool needsResync(int device) const;
    // The keys `device` holds now (kernel key codes), after lost events: releases and presses
    // for what changed meanwhile.
    std::vector<InputEvent> resync(int device, const std::vector<std::uint16_t>& held);
    // `device` went away: releases for everything it held.
    std::vector<InputEvent> remove(int device);
    // The modifier flags of every key held now.
    std::uint64_t flags() const { return keys_.flags(); }

  private:
    struct Device {
        std::string partial;          // the start of a record the next read completes
        std::set<std::uint16_t> held; // key codes down
        bool dropping = false;        // after SYN_DROPPED, until SYN_REPORT
        bool needsResync = false;
    };
    void handle(Device& device, const input_event& event, std::vector<InputEvent>& out);
    void press(Device& device, std::uint16_t code, std::vector<InputEvent>& out);
    void release(Device& device, std::uint16_t code, std::vector<InputEvent>& out);
    bool heldElsewhere(const Device& device, std::uint16_t code) const;

    KeyTranslator keys_;
    std::map<int, Device> devices_;
};

} // namespace vak
