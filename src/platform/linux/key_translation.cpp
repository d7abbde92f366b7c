#include "platform/linux/key_translation.h"

#include "foundation/trigger_keys.h"
#include "platform/linux/xcb_connection.h"

#include <linux/input-event-codes.h>

namespace vak {

namespace {

constexpr std::uint16_t kCapsLockCode = 57;

// A trigger key's code, device bit and mask, from the trigger-key table.
ModifierKeyInfo triggerModifier(std::uint16_t code) {
    const TriggerKey& key = triggerKey(code);
    return ModifierKeyInfo{key.code, key.bit, key.mask};
}

} // namespace

std::optional<ModifierKeyInfo> modifierForKeysym(std::uint32_t sym) {
    switch (sym) {
    case keysym::Super_R:
        return triggerModifier(54);
    case keysym::Super_L:
        return triggerModifier(55);
    case keysym::Alt_R:
    case keysym::ISO_Level3_Shift:
        return triggerModifier(61);
    case keysym::Alt_L:
        return triggerModifier(58);
    case keysym::Control_R:
        return triggerModifier(62);
    case keysym::Control_L:
        return triggerModifier(59);
    case keysym::Shift_R:
        return triggerModifier(60);
    case keysym::Shift_L:
        return triggerModifier(56);
    case keysym::Caps_Lock:
        return ModifierKeyInfo{kCapsLockCode, 0, 0};
    default:
        return std::nullopt;
    }
}

std::uint16_t virtualCodeForKeysym(std::uint32_t sym) {
    return sym == keysym::Escape ? ESCAPE_KEY_CODE : UNKNOWN_KEY_CODE;
}

void KeyTranslator::setKeysyms(const std::array<std::uint32_t, 256>& keysyms) {
    keysyms_ = keysyms;
}

void KeyTranslator::setHeld(std::uint8_t keycode, bool held) {
    held_[keycode] = held;
}

std::uint64_t KeyTranslator::flags() const {
    std::uint64_t flags = 0;
    for (std::size_t code = 0; code < held_.size(); ++code) {
        if (!held_[code]) continue;
        if (const auto info = modifierForKeysym(keysyms_[code]))
            flags |= info->deviceBit | info->mask;
    }
    return flags;
}

std::optional<InputEvent> KeyTranslator::press(std::uint8_t keycode, std::uint32_t time) {
    const auto info = modifierForKeysym(keysyms_[keycode]);
    if (!info) {
        return InputEvent{InputEventKind::KeyDown, virtualCodeForKeysym(keysyms_[keycode]), flags(),
                          time};
    }
    // A modifier that repeats is still the same press.
    if (held_[keycode]) return std::nullopt;
    held_[keycode] = true;
    return InputEvent{InputEventKind::FlagsChanged, info->code, flags(), time};
}

std::optional<InputEvent> KeyTranslator::release(std::uint8_t keycode, std::uint32_t time) {
    held_[keycode] = false;
    const auto info = modifierForKeysym(keysyms_[keycode]);
    if (!info) return std::nullopt;
    return InputEvent{InputEventKind::FlagsChanged, info->code, flags(), time};
}

std::uint32_t keysymForChordKey(ChordKey key) {
    switch (key) {
    case ChordKey::V:
        return keysym::v;
    case ChordKey::C:
        return keysym::c;
    case ChordKey::Insert:
        return keysym::Insert;
    }
    return keysym::v;
}

std::optional<std::uint16_t> triggerCodeForKeysym(std::uint32_t keysym) {
    const auto modifier = modifierForKeysym(keysym);
    if (!modifier) return std::nullopt;
    for (const TriggerKey& key : TRIGGER_KEYS) {
        if (key.code == modifier->code) return key.code;
    }
    return std::nullopt;
}

std::vector<std::uint16_t> evdevKeysOf(const KeyChord& chord) {
    std::vector<std::uint16_t> keys;
    if (chord.control) keys.push_back(KEY_LEFTCTRL);
    if (chord.shift) keys.push_back(KEY_LEFTSHIFT);
    if (chord.alt) keys.push_back(KEY_LEFTALT);
    if (chord.command) keys.push_back(KEY_LEFTMETA);
    keys.push_back(chord.key == ChordKey::V   ? KEY_V
                   : chord.key == ChordKey::C ? KEY_C
                                              : KEY_INSERT);
    return keys;
}

} // namespace vak
