#include "platform/linux/wayland_protocols.h"

#include <wayland-client-protocol.h>

namespace vak::wl {

namespace {

// One wl_message per request or event: name, signature ("n" new object, "o" object, "?" may be
// null, "s" string, "h" file descriptor, "i" integer, "a" array; a leading digit is the version
// that added it) and the interface of each object argument.
const wl_interface* const kNone[] = {nullptr, nullptr, nullptr, nullptr, nullptr};
const wl_interface* const kSourceArg[] = {&data_control_source};
const wl_interface* const kDeviceAndSeat[] = {&data_control_device, &wl_seat_interface};
const wl_interface* const kOfferArg[] = {&data_control_offer};
const wl_interface* const kSeatArg[] = {&wl_seat_interface};
const wl_interface* const kOutputArg[] = {&wl_output_interface};
const wl_interface* const kHandleArg[] = {&foreign_toplevel_handle};
const wl_interface* const kRectangle[] = {&wl_surface_interface, nullptr, nullptr, nullptr,
                                          nullptr};

// libwayland wants non-const pointers in its tables; it never writes through them.
const wl_interface** types(const wl_interface* const* list) {
    return const_cast<const wl_interface**>(list);
}

const wl_message kManagerRequests[] = {
    {"create_data_source", "n", types(kSourceArg)},
    {"get_data_device", "no", types(kDeviceAndSeat)},
    {"destroy", "", types(kNone)},
};

const wl_message kDeviceRequests[] = {
    {"set_selection", "?o", types(kSourceArg)},
    {"destroy", "", types(kNone)},
    {"set_primary_selection", "2?o", types(kSourceArg)},
};
const wl_message kDeviceEvents[] = {
    {"data_offer", "n", types(kOfferArg)},
    {"selection", "?o", types(kOfferArg)},
    {"finished", "", types(kNone)},
    {"primary_selection", "2?o", types(kOfferArg)},
};

const wl_message kSourceRequests[] = {
    {"offer", "s", types(kNone)},
    {"destroy", "", types(kNone)},
};
const wl_message kSourceEvents[] = {
    {"send", "sh", types(kNone)},
    {"cancelled", "", types(kNone)},
};

const wl_message kOfferRequests[] = {
    {"receive", "sh", types(kNone)},
    {"destroy", "", types(kNone)},
};
const wl_message kOfferEvents[] = {
    {"offer", "s", types(kNone)},
};

const wl_message kToplevelManagerRequests[] = {
    {"stop", "", types(kNone)},
};
const wl_message kToplevelManagerEvents[] = {
    {"toplevel", "n", types(kHandleArg)},
    {"finished", "", types(kNone)},
};

const wl_message kToplevelRequests[] = {
    {"set_maximized", "", types(kNone)},
    {"unset_maximized", "", types(kNone)},
    {"set_minimized", "", types(kNone)},
    {"unset_minimized", "", types(kNone)},
    {"activate", "o", types(kSeatArg)},
    {"close", "", types(kNone)},
    {"set_rectangle", "?oiiii", types(kRectangle)},
    {"destroy", "", types(kNone)},
    {"set_fullscreen", "2?o", types(kOutputArg)},
    {"unset_fullscreen", "2", types(kNone)},
};
const wl_message kToplevelEvents[] = {
    {"title", "s", types(kNone)},
    {"app_id", "s", types(kNone)},
    {"output_enter", "o", types(kOutputArg)},
    {"output_leave", "o", types(kOutputArg)},
    {"state", "a", types(kNone)},
    {"done", "", types(kNone)},
    {"closed", "", types(kNone)},
    {"parent", "3?o", types(kHandleArg)},
};

template <typename T, int N>
constexpr int count(const T (&)[N]) {
    return N;
}

} // namespace

const wl_interface data_control_manager = {
    "zwlr_data_control_manager_v1", 2, count(kManagerRequests), kManagerRequests, 0, nullptr};
const wl_interface data_control_device = {"zwlr_data_control_device_v1", 2,
                                          count(kDeviceRequests),        kDeviceRequests,
                                          count(kDeviceEvents),          kDeviceEvents};
const wl_interface data_control_source = {"zwlr_data_control_source_v1", 1,
                                          count(kSourceRequests),        kSourceRequests,
                                          count(kSourceEvents),          kSourceEvents};
const wl_interface data_control_offer = {"zwlr_data_control_offer_v1", 1,
                                         count(kOfferRequests),        kOfferRequests,
                                         count(kOfferEvents),          kOfferEvents};
const wl_interface foreign_toplevel_manager = {
    "zwlr_foreign_toplevel_manager_v1", 3,
    count(kToplevelManagerRequests),    kToplevelManagerRequests,
    count(kToplevelManagerEvents),      kToplevelManagerEvents};
const wl_interface foreign_toplevel_handle = {"zwlr_foreign_toplevel_handle_v1",
                                              3,
                                              count(kToplevelRequests),
                                              kToplevelRequests,
                                              count(kToplevelEvents),
                                              kToplevelEvents};

} // namespace vak::wl
