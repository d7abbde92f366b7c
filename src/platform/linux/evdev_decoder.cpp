#include "platform/linux/evdev_decoder.h"

#include "platform/linux/xcb_connection.h"

#include <cstring>

#include <linux/input.h>

namespace vak {

namespace {

// Kernel key codes from here on have no X keycode (X keycodes end at 255).
constexpr std::uint16_t kFirstCodeWithoutKeycode = 256 - 8;

std::uint8_t keycodeOf(std::uint16_t code) {
    return static_cast<std::uint8_t>(code + 8);
}

bool isMouseButton(std::uint16_t code) {
    return code >= BTN_MOUSE && code <= BTN_TASK;
}

bool isWheel(std::uint16_t code) {
    return code == REL_WHEEL || code == REL_HWHEEL || code == REL_WHEEL_HI_RES ||
           code == REL_HWHEEL_HI_RES;
}

} // namespace

std::array<std::uint32_t, 256> evdevKeysyms() {
    std::array<std::uint32_t, 256> syms{};
    const auto set = [&syms](std::uint16_t code, std::uint32_t sym) {
        syms[keycodeOf(code)] = sym;
    };
    set(KEY_ESC, keysym::Escape);
    set(KEY_LEFTSHIFT, keysym::Shift_L);
    set(KEY_RIGHTSHIFT, keysym::Shift_R);
    set(KEY_LEFTCTRL, keysym::Control_L);
    set(KEY_RIGHTCTRL, keysym::Control_R);
    set(KEY_LEFTALT, keysym::Alt_L);
    set(KEY_RIGHTALT, keysym::Alt_R);
    set(KEY_LEFTMETA, keysym::Super_L);
    set(KEY_RIGHTMETA, keysym::Super_R);
    set(KEY_CAPSLOCK, keysym::Caps_Lock);
    return syms;
}

EvdevDecoder::EvdevDecoder() {
    keys_.setKeysyms(evdevKeysyms());
}

std::vector<InputEvent> EvdevDecoder::feed(int id, std::string_view bytes) {
    std::vector<InputEvent> out;
    Device& device = devices_[id];
    device.partial.append(bytes);
    std::size_t used = 0;
    for (; used + sizeof(input_event) <= device.partial.size(); used += sizeof(input_event)) {
        input_event event{};
        std::memcpy(&event, device.partial.data() + used, sizeof event);
        handle(device, event, out);
    }
    device.partial.erase(0, used);
    return out;
}

void EvdevDecoder::handle(Device& device, const input_event& event, std::vector<InputEvent>& out) {
    if (event.type == EV_SYN) {
        if (event.code == SYN_DROPPED) {
            device.dropping = true;
        } else if (event.code == SYN_REPORT && device.dropping) {
            device.dropping = false;
            device.needsResync = true;
        }
        return;
    }
    if (device.dropping) return;
    if (event.type == EV_REL && isWheel(event.code) && event.value != 0) {
        out.push_back({InputEventKind::Scroll, UNKNOWN_KEY_CODE, keys_.flags()});
        return;
    }
    if (event.type != EV_KEY) return;
    if (isMouseButton(event.code)) {
        if (event.value == 1)
            out.push_back({InputEventKind::MouseDown, UNKNOWN_KEY_CODE, keys_.flags()});
        return;
    }
    if (event.value == 1) {
        press(device, event.code, out);
    } else if (event.value == 0) {
        release(device, event.code, out);
    }
}

bool EvdevDecoder::heldElsewhere(const Device& device, std::uint16_t code) const {
    for (const auto& [id, other] : devices_) {
        if (&other != &device && other.held.count(code) != 0) return true;
    }
    return false;
}

void EvdevDecoder::press(Device& device, std::uint16_t code, std::vector<InputEvent>& out) {
    if (code >= kFirstCodeWithoutKeycode) {
        out.push_back({InputEventKind::KeyDown, UNKNOWN_KEY_CODE, keys_.flags()});
        return;
    }
    device.held.insert(code);
    if (const auto event = keys_.press(keycodeOf(code))) out.push_back(*event);
}

void EvdevDecoder::release(Device& device, std::uint16_t code, std::vector<InputEvent>& out) {
    if (device.held.erase(code) == 0 || heldElsewhere(device, code)) return;
    if (const auto event = keys_.release(keycodeOf(code))) out.push_back(*event);
}

bool EvdevDecoder::needsResync(int id) const {
    const auto found = devices_.find(id);
    return found != devices_.end() && found->second.needsResync;
}

std::vector<InputEvent> EvdevDecoder::resync(int id, const std::vector<std::uint16_t>& held) {
    std::vector<InputEvent> out;
    Device& device = devices_[id];
    device.needsResync = false;
    const std::set<std::uint16_t> now(held.begin(), held.end());
    for (const std::uint16_t code : std::set<std::uint16_t>(device.held)) {
        if (now.count(code) == 0) release(device, code, out);
    }
    for (const std::uint16_t code : now) {
        if (device.held.count(code) == 0 && code < kFirstCodeWithoutKeycode)
            press(device, code, out);
    }
    return out;
}

std::vector<InputEvent> EvdevDecoder::remove(int id) {
    std::vector<InputEvent> out;
    const auto found = devices_.find(id);
    if (found == devices_.end()) return out;
    for (const std::uint16_t code : std::set<std::uint16_t>(found->second.held))
        release(found->second, code, out);
    devices_.erase(found);
    return out;
}

} // namespace vak
