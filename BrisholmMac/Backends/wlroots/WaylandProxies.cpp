#include "Backends/wlroots/WaylandProxies.hpp"

#include <virtual-keyboard-unstable-v1-client-protocol.h>
#include <wayland-client.h>
#include <wlr-foreign-toplevel-management-unstable-v1-client-protocol.h>
#include <wlr-screencopy-unstable-v1-client-protocol.h>
#include <wlr-virtual-pointer-unstable-v1-client-protocol.h>
#include <xdg-output-unstable-v1-client-protocol.h>

namespace vantrel::wayland {

namespace {

// Objects with a destructor request only from some version on: below it, only our side goes.
template <typename Proxy>
void releaseSince(Proxy* proxy, std::uint32_t since, void (*release)(Proxy*), void (*destroy)(Proxy*)) {
    if (proxy == nullptr) {
        return;
    }
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(proxy)) >= since) {
        release(proxy);
    } else {
        destroy(proxy);
    }
}

template <typename Proxy>
void ifAny(Proxy* proxy, void (*destroy)(Proxy*)) {
    if (proxy != nullptr) {
        destroy(proxy);
    }
}

}  // namespace

void ProxyDeleter::operator()(wl_registry* proxy) const {
    ifAny(proxy, wl_registry_destroy);
}
void ProxyDeleter::operator()(wl_output* proxy) const {
    releaseSince(proxy, WL_OUTPUT_RELEASE_SINCE_VERSION, wl_output_release, wl_output_destroy);
}
void ProxyDeleter::operator()(wl_seat* proxy) const {
    releaseSince(proxy, WL_SEAT_RELEASE_SINCE_VERSION, wl_seat_release, wl_seat_destroy);
}
void ProxyDeleter::operator()(wl_keyboard* proxy) const {
    releaseSince(proxy, WL_KEYBOARD_RELEASE_SINCE_VERSION, wl_keyboard_release, wl_keyboard_destroy);
}
void ProxyDeleter::operator()(wl_shm* proxy) const {
    ifAny(proxy, wl_shm_destroy);
}
void ProxyDeleter::operator()(wl_shm_pool* proxy) const {
    ifAny(proxy, wl_shm_pool_destroy);
}
void ProxyDeleter::operator()(wl_buffer* proxy) const {
    ifAny(proxy, wl_buffer_destroy);
}
void ProxyDeleter::operator()(zxdg_output_manager_v1* proxy) const {
    ifAny(proxy, zxdg_output_manager_v1_destroy);
}
void ProxyDeleter::operator()(zxdg_output_v1* proxy) const {
    ifAny(proxy, zxdg_output_v1_destroy);
}
void ProxyDeleter::operator()(zwlr_screencopy_manager_v1* proxy) const {
    ifAny(proxy, zwlr_screencopy_manager_v1_destroy);
}
void ProxyDeleter::operator()(zwlr_screencopy_frame_v1* proxy) const {
    ifAny(proxy, zwlr_screencopy_frame_v1_destroy);
}
void ProxyDeleter::operator()(zwlr_virtual_pointer_manager_v1* proxy) const {
    ifAny(proxy, zwlr_virtual_pointer_manager_v1_destroy);
}
void ProxyDeleter::operator()(zwlr_virtual_pointer_v1* proxy) const {
    ifAny(proxy, zwlr_virtual_pointer_v1_destroy);
}
void ProxyDeleter::operator()(zwp_virtual_keyboard_manager_v1* proxy) const {
    ifAny(proxy, zwp_virtual_keyboard_manager_v1_destroy);
}
void ProxyDeleter::operator()(zwp_virtual_keyboard_v1* proxy) const {
    ifAny(proxy, zwp_virtual_keyboard_v1_destroy);
}
void ProxyDeleter::operator()(zwlr_foreign_toplevel_manager_v1* proxy) const {
    // stop asks the compositor to end the list; it answers with finished, after which the object
    // may go. Without waiting for that, only our side goes, which the protocol allows.
    ifAny(proxy, zwlr_foreign_toplevel_manager_v1_destroy);
}
void ProxyDeleter::operator()(zwlr_foreign_toplevel_handle_v1* proxy) const {
    ifAny(proxy, zwlr_foreign_toplevel_handle_v1_destroy);
}

}  // namespace vantrel::wayland
