#include "platform/linux/xcb_connection.h"

#include "base/environment.h"

#include <algorithm>
#include <cstring>

#include <xcb/xcb.h>

namespace vak {

std::uint32_t KeyboardMap::primary(std::uint8_t keycode) const {
    if (perKeycode <= 0 || keycode < minKeycode) return 0;
    const std::size_t at =
        static_cast<std::size_t>(keycode - minKeycode) * static_cast<std::size_t>(perKeycode);
    return at < keysyms.size() ? keysyms[at] : 0;
}

std::optional<std::uint8_t> KeyboardMap::keycodeFor(std::uint32_t sym) const {
    if (perKeycode <= 0 || sym == 0) return std::nullopt;
    const std::size_t per = static_cast<std::size_t>(perKeycode);
    std::optional<std::uint8_t> elsewhere;
    for (std::size_t i = 0; i < keysyms.size(); ++i) {
        if (keysyms[i] != sym) continue;
        const std::size_t code = minKeycode + i / per;
        if (code > 255) break;
        if (i % per == 0) return static_cast<std::uint8_t>(code);
        if (!elsewhere) elsewhere = static_cast<std::uint8_t>(code);
    }
    return elsewhere;
}

std::unique_ptr<XcbConnection> XcbConnection::open(std::string* error) {
    const auto display = envValue(Env::Display);
    if (!display) {
        if (error != nullptr) *error = "DISPLAY is not set";
        return nullptr;
    }
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display->c_str(), &screenNumber);
    if (connection == nullptr || xcb_connection_has_error(connection) != 0) {
        if (connection != nullptr) xcb_disconnect(connection);
        if (error != nullptr) *error = std::string("cannot connect to X display ") + *display;
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem <= 0) {
        xcb_disconnect(connection);
        if (error != nullptr) *error = "the X display has no such screen";
        return nullptr;
    }
    return std::unique_ptr<XcbConnection>(new XcbConnection(connection, screens.data->root));
}

XcbConnection::XcbConnection(xcb_connection_t* connection, std::uint32_t root)
    : connection_(connection), root_(root) {}

XcbConnection::~XcbConnection() {
    xcb_disconnect(connection_);
}

bool XcbConnection::healthy() const {
    return xcb_connection_has_error(connection_) == 0;
}

std::uint32_t internAtom(xcb_connection_t* connection, std::string_view name) {
    const auto cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data());
    const XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : std::uint32_t{XCB_ATOM_NONE};
}

std::uint32_t XcbConnection::atom(std::string_view name) {
    const std::string key(name);
    if (const auto found = atoms_.find(key); found != atoms_.end()) return found->second;
    const std::uint32_t interned = internAtom(connection_, key);
    if (interned != XCB_ATOM_NONE) atoms_.emplace(key, interned);
    return interned;
}

std::optional<std::string> XcbConnection::property(std::uint32_t window, std::string_view name,
                                                   std::size_t maxBytes) {
    const std::uint32_t which = atom(name);
    if (which == XCB_ATOM_NONE || window == XCB_WINDOW_NONE) return std::nullopt;
    const auto words = static_cast<std::uint32_t>((maxBytes + 3) / 4);
    const auto cookie =
        xcb_get_property(connection_, 0, window, which, XCB_GET_PROPERTY_TYPE_ANY, 0, words);
    xcb_generic_error_t* rawError = nullptr;
    const XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection_, cookie, &rawError));
    const XcbReply<xcb_generic_error_t> failure(rawError);
    if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
    const int length = xcb_get_property_value_length(reply.get());
    const auto* bytes = static_cast<const char*>(xcb_get_property_value(reply.get()));
    if (length <= 0 || bytes == nullptr) return std::string();
    return std::string(bytes, std::min<std::size_t>(static_cast<std::size_t>(length), maxBytes));
}

std::optional<std::uint32_t> XcbConnection::property32(std::uint32_t window,
                                                       std::string_view name) {
    const auto bytes = property(window, name, 4);
    if (!bytes || bytes->size() < 4) return std::nullopt;
    std::uint32_t value = 0;
    std::memcpy(&value, bytes->data(), 4);
    return value;
}

std::vector<std::uint32_t> XcbConnection::property32List(std::uint32_t window,
                                                         std::string_view name) {
    std::vector<std::uint32_t> values;
    const auto bytes = property(window, name, 4096);
    // An empty list (no clients yet) has no bytes to copy from.
    if (!bytes || bytes->size() < 4) return values;
    values.resize(bytes->size() / 4);
    std::memcpy(values.data(), bytes->data(), values.size() * 4);
    return values;
}

bool XcbConnection::windowExists(std::uint32_t window) {
    if (window == XCB_WINDOW_NONE) return false;
    xcb_generic_error_t* rawError = nullptr;
    const XcbReply<xcb_get_window_attributes_reply_t> reply(xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window), &rawError));
    const XcbReply<xcb_generic_error_t> failure(rawError);
    return reply != nullptr;
}

std::optional<std::uint32_t> XcbConnection::parent(std::uint32_t window) {
    const auto cookie = xcb_query_tree(connection_, window);
    xcb_generic_error_t* rawError = nullptr;
    const XcbReply<xcb_query_tree_reply_t> reply(
        xcb_query_tree_reply(connection_, cookie, &rawError));
    const XcbReply<xcb_generic_error_t> failure(rawError);
    if (!reply || reply->parent == XCB_WINDOW_NONE || window == root_) return std::nullopt;
    return reply->parent;
}

std::optional<std::uint32_t> XcbConnection::inputFocus() {
    const XcbReply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    if (!reply || reply->focus == XCB_INPUT_FOCUS_NONE ||
        reply->focus == XCB_INPUT_FOCUS_POINTER_ROOT) {
        return std::nullopt;
    }
    return reply->focus;
}

std::optional<XcbConnection::KeyboardFocus> XcbConnection::keyboardFocus() {
    const XcbReply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    if (!reply) return std::nullopt;
    if (reply->focus == XCB_INPUT_FOCUS_NONE) return KeyboardFocus{};
    if (reply->focus == XCB_INPUT_FOCUS_POINTER_ROOT || reply->focus == root_)
        return KeyboardFocus{KeyboardFocus::Kind::UnderPointer, 0};
    return KeyboardFocus{KeyboardFocus::Kind::Window, reply->focus};
}

std::optional<std::uint32_t> XcbConnection::windowUnderPointer() {
    const XcbReply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr));
    if (!reply || reply->child == XCB_WINDOW_NONE) return std::nullopt;
    return reply->child;
}

std::optional<KeyboardMap> XcbConnection::keyboardMap() {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    KeyboardMap map;
    map.minKeycode = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    const auto cookie =
        xcb_get_keyboard_mapping(connection_, setup->min_keycode, static_cast<std::uint8_t>(count));
    const XcbReply<xcb_get_keyboard_mapping_reply_t> reply(
        xcb_get_keyboard_mapping_reply(connection_, cookie, nullptr));
    if (!reply) return std::nullopt;
    map.perKeycode = reply->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply.get());
    const int length = xcb_get_keyboard_mapping_keysyms_length(reply.get());
    map.keysyms.assign(syms, syms + length);
    return map;
}

std::optional<std::vector<bool>> XcbConnection::heldKeys() {
    const XcbReply<xcb_query_keymap_reply_t> reply(
        xcb_query_keymap_reply(connection_, xcb_query_keymap(connection_), nullptr));
    if (!reply) return std::nullopt;
    std::vector<bool> held(256, false);
    for (std::size_t code = 0; code < 256; ++code) {
        held[code] = ((reply->keys[code / 8] >> (code % 8)) & 1) != 0;
    }
    return held;
}

std::vector<std::uint8_t> XcbConnection::modifierKeycodes() {
    const XcbReply<xcb_get_modifier_mapping_reply_t> reply(xcb_get_modifier_mapping_reply(
        connection_, xcb_get_modifier_mapping(connection_), nullptr));
    if (!reply) return {};
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
    const int length = xcb_get_modifier_mapping_keycodes_length(reply.get());
    std::vector<std::uint8_t> result;
    for (int i = 0; i < length; ++i) {
        if (codes[i] != 0) result.push_back(codes[i]);
    }
    return result;
}

bool XcbConnection::sync() {
    // Any request with a reply does: the server answers in order.
    const XcbReply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    return reply != nullptr;
}

} // namespace vak
