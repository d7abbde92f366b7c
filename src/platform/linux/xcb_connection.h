#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct xcb_connection_t;

namespace vak {

// What xcb allocated for a reply or an error, freed with it.
struct XcbFree {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;

// The atom named `name` on `connection` (a round trip); 0 when it cannot be had. For a
// connection that is not ours (Qt's); XcbConnection::atom keeps what it interned.
std::uint32_t internAtom(xcb_connection_t* connection, std::string_view name);

// X keysyms the adapters need by value.
namespace keysym {
inline constexpr std::uint32_t ISO_Level3_Shift = 0xfe03;
inline constexpr std::uint32_t Escape = 0xff1b;
inline constexpr std::uint32_t Insert = 0xff63;
inline constexpr std::uint32_t Shift_L = 0xffe1;
inline constexpr std::uint32_t Shift_R = 0xffe2;
inline constexpr std::uint32_t Control_L = 0xffe3;
inline constexpr std::uint32_t Control_R = 0xffe4;
inline constexpr std::uint32_t Caps_Lock = 0xffe5;
inline constexpr std::uint32_t Alt_L = 0xffe9;
inline constexpr std::uint32_t Alt_R = 0xffea;
inline constexpr std::uint32_t Super_L = 0xffeb;
inline constexpr std::uint32_t Super_R = 0xffec;
inline constexpr std::uint32_t c = 0x63;
inline constexpr std::uint32_t v = 0x76;
} // namespace keysym

// The keyboard's keysyms as the core protocol reports them: for every keycode from `minKeycode`
// the keysyms of its columns (group 1 plain, group 1 shifted, group 2 …).
struct KeyboardMap {
    std::uint8_t minKeycode = 8;
    int perKeycode = 0;
    std::vector<std::uint32_t> keysyms;

    // The keysym in column 0 of `keycode`, 0 when there is none.
    std::uint32_t primary(std::uint8_t keycode) const;
    // A keycode producing `sym`, preferring one where it sits in column 0; nothing when none.
    std::optional<std::uint8_t> keycodeFor(std::uint32_t sym) const;
};

// One connection to the X server named by $DISPLAY. xcb (not Xlib): errors come back with each
// request instead of through process-wide handlers, and a lost server makes calls fail instead
// of ending the process. Use from one thread at a time.
class XcbConnection {
  public:
    // Nothing (and `error` set) when the display cannot be reached.
    static std::unique_ptr<XcbConnection> open(std::string* error = nullptr);
    ~XcbConnection();
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    xcb_connection_t* raw() const { return connection_; }
    std::uint32_t root() const { return root_; }
    // False once the connection has failed (the server went away).
    bool healthy() const;

    // The atom named `name`, interned once; 0 when it cannot be had.
    std::uint32_t atom(std::string_view name);
    // The bytes of a window property (any type), up to `maxBytes`; nothing when absent.
    std::optional<std::string> property(std::uint32_t window, std::string_view name,
                                        std::size_t maxBytes = 4096);
    // The first 32-bit value of a window property (a window id, a cardinal).
    std::optional<std::uint32_t> property32(std::uint32_t window, std::string_view name);
    // Every 32-bit value of a window property (a list of atoms or windows), up to 1024.
    std::vector<std::uint32_t> property32List(std::uint32_t window, std::string_view name);
    // Whether `window` exists (a window id read from a property may be stale).
    bool windowExists(std::uint32_t window);
    // The window's parent; nothing at the root or when the window is gone.
    std::optional<std::uint32_t> parent(std::uint32_t window);
    // The window that has the keyboard focus; nothing when focus is none or follows the pointer.
    std::optional<std::uint32_t> inputFocus();
    // Where key presses go now: to a window, to the window under the pointer (focus
    // PointerRoot, or the root window), or nowhere (focus None). Nothing when the server does
    // not answer.
    struct KeyboardFocus {
        enum class Kind { Window, UnderPointer, Nowhere };
        Kind kind = Kind::Nowhere;
        std::uint32_t window = 0; // for Kind::Window
    };
    std::optional<KeyboardFocus> keyboardFocus();
    // The top-level window under the pointer; nothing when the pointer is over the root alone.
    std::optional<std::uint32_t> windowUnderPointer();

    std::optional<KeyboardMap> keyboardMap();
    // The 256-bit map of keys held down now.
    std::optional<std::vector<bool>> heldKeys();
    // The keycodes bound to the eight modifiers (Shift, Lock, Control, Mod1…Mod5).
    std::vector<std::uint8_t> modifierKeycodes();
    // Waits until the server has handled everything sent so far; false on a dead connection.
    bool sync();

  private:
    XcbConnection(xcb_connection_t* connection, std::uint32_t root);

    xcb_connection_t* connection_;
    std::uint32_t root_;
    std::unordered_map<std::string, std::uint32_t> atoms_;
};

} // namespace vak
