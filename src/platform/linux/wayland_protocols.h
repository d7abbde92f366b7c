#pragma once

#include <cstdint>

struct wl_interface;

namespace vak::wl {

// The two wlroots protocols the program speaks besides the core one, written out by hand (their
// descriptions are not packaged): data control, which lets a client that never has the keyboard
// focus read and set the clipboard, and foreign toplevel management, which tells every client
// which window is active. Only the messages' order and signatures matter to the library.
extern const wl_interface data_control_manager;
extern const wl_interface data_control_device;
extern const wl_interface data_control_source;
extern const wl_interface data_control_offer;
extern const wl_interface foreign_toplevel_manager;
extern const wl_interface foreign_toplevel_handle;

// Request numbers, in the protocols' order.
namespace request {
inline constexpr std::uint32_t manager_create_data_source = 0;
inline constexpr std::uint32_t manager_get_data_device = 1;
inline constexpr std::uint32_t manager_destroy = 2;
inline constexpr std::uint32_t device_set_selection = 0;
inline constexpr std::uint32_t device_destroy = 1;
inline constexpr std::uint32_t device_set_primary_selection = 2;
inline constexpr std::uint32_t source_offer = 0;
inline constexpr std::uint32_t source_destroy = 1;
inline constexpr std::uint32_t offer_receive = 0;
inline constexpr std::uint32_t offer_destroy = 1;
inline constexpr std::uint32_t toplevel_manager_stop = 0;
inline constexpr std::uint32_t toplevel_handle_destroy = 7;
} // namespace request

// The "activated" entry of a toplevel's state array.
inline constexpr std::uint32_t TOPLEVEL_STATE_ACTIVATED = 2;

} // namespace vak::wl
