#pragma once

#include <cstdint>

#include <wayland-client.h>

namespace vak::wl {

// Listeners of the hand-written protocols are structs of function pointers in the order of the
// interface's events, as the library expects.
template <typename Listener>
void addListener(wl_proxy* proxy, const Listener& listener, void* data) {
    wl_proxy_add_listener(
        proxy, reinterpret_cast<void (**)(void)>(const_cast<Listener*>(&listener)), data);
}

// Sends the destructor request `opcode` of `proxy` and frees it.
inline void destroy(wl_proxy* proxy, std::uint32_t opcode) {
    wl_proxy_marshal_flags(proxy, opcode, nullptr, wl_proxy_get_version(proxy),
                           WL_MARSHAL_FLAG_DESTROY);
}

} // namespace vak::wl
