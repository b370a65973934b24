#pragma once

#include <memory>

// The protocol objects the backend keeps, by their C types (declared by wayland-client and the
// generated protocol headers).
struct wl_registry;
struct wl_output;
struct wl_seat;
struct wl_keyboard;
struct wl_shm;
struct wl_shm_pool;
struct wl_buffer;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct zwlr_screencopy_manager_v1;
struct zwlr_screencopy_frame_v1;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

namespace vantrel::wayland {

// Ends a proxy the way its protocol asks: the interface's destructor request where it has one
// (release, destroy, stop), else only our side of it. One overload per kind of object.
struct ProxyDeleter {
    void operator()(wl_registry* proxy) const;
    void operator()(wl_output* proxy) const;
    void operator()(wl_seat* proxy) const;
    void operator()(wl_keyboard* proxy) const;
    void operator()(wl_shm* proxy) const;
    void operator()(wl_shm_pool* proxy) const;
    void operator()(wl_buffer* proxy) const;
    void operator()(zxdg_output_manager_v1* proxy) const;
    void operator()(zxdg_output_v1* proxy) const;
    void operator()(zwlr_screencopy_manager_v1* proxy) const;
    void operator()(zwlr_screencopy_frame_v1* proxy) const;
    void operator()(zwlr_virtual_pointer_manager_v1* proxy) const;
    void operator()(zwlr_virtual_pointer_v1* proxy) const;
    void operator()(zwp_virtual_keyboard_manager_v1* proxy) const;
    void operator()(zwp_virtual_keyboard_v1* proxy) const;
    void operator()(zwlr_foreign_toplevel_manager_v1* proxy) const;
    void operator()(zwlr_foreign_toplevel_handle_v1* proxy) const;
};

// A proxy owned: destroyed with its protocol's destructor when the owner goes.
template <typename Proxy>
using ProxyPtr = std::unique_ptr<Proxy, ProxyDeleter>;

}  // namespace vantrel::wayland
