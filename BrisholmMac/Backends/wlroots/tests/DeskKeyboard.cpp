#include "DeskKeyboard.hpp"

#include <sys/mman.h>
#include <unistd.h>
#include <virtual-keyboard-unstable-v1-client-protocol.h>
#include <wayland-client.h>

#include <cstdlib>
#include <string>

#include "Backends/wlroots/WaylandConnection.hpp"
#include "Input/XkbKeymap.hpp"

namespace vantrel::testing {

namespace {
constexpr std::uint32_t evdevLeftShift = 42;
}

struct DeskKeyboard::State {
    std::unique_ptr<wayland::WaylandConnection> connection;
    wayland::ProxyPtr<wl_seat> seat;
    wayland::ProxyPtr<zwp_virtual_keyboard_manager_v1> manager;
    wayland::ProxyPtr<zwp_virtual_keyboard_v1> keyboard;
    xkb_mod_mask_t shiftMask = 0;
    bool ready = false;
};

DeskKeyboard::DeskKeyboard(const std::string& layout, bool tapOnce) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.connection = wayland::WaylandConnection::open("desk keyboard");
    if (!s.connection) {
        return;
    }
    s.seat.reset(s.connection->bindFirst<wl_seat>(wl_seat_interface, 1));
    s.manager.reset(
        s.connection->bindFirst<zwp_virtual_keyboard_manager_v1>(zwp_virtual_keyboard_manager_v1_interface, 1));
    const XkbContextPtr context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    auto keymap = XkbKeymap::fromLayout(context.get(), layout.c_str());
    if (!s.seat || !s.manager || !keymap) {
        return;
    }
    s.shiftMask = 1U << xkb_keymap_mod_get_index(keymap->get(), XKB_MOD_NAME_SHIFT);
    char* text = xkb_keymap_get_as_string(keymap->get(), XKB_KEYMAP_FORMAT_TEXT_V1);
    const std::string copy(text);
    std::free(text);
    const int fd = ::memfd_create("desk-keymap", MFD_CLOEXEC);
    if (fd < 0) {
        return;
    }
    if (::write(fd, copy.data(), copy.size()) != static_cast<ssize_t>(copy.size())) {
        ::close(fd);
        return;
    }
    s.keyboard.reset(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(s.manager.get(), s.seat.get()));
    zwp_virtual_keyboard_v1_keymap(s.keyboard.get(), WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<std::uint32_t>(copy.size()));
    ::close(fd);
    s.ready = s.connection->roundtrip() && (!tapOnce || tap());
}

DeskKeyboard::~DeskKeyboard() {
    if (state_->keyboard) {
        state_->keyboard.reset();
        state_->connection->roundtrip();
    }
}

bool DeskKeyboard::ok() const {
    return state_->ready && !state_->connection->broken();
}

bool DeskKeyboard::tap() {
    State& s = *state_;
    if (!s.keyboard) {
        return false;
    }
    zwp_virtual_keyboard_v1_key(s.keyboard.get(), 0, evdevLeftShift, WL_KEYBOARD_KEY_STATE_PRESSED);
    zwp_virtual_keyboard_v1_modifiers(s.keyboard.get(), s.shiftMask, 0, 0, 0);
    zwp_virtual_keyboard_v1_key(s.keyboard.get(), 0, evdevLeftShift, WL_KEYBOARD_KEY_STATE_RELEASED);
    zwp_virtual_keyboard_v1_modifiers(s.keyboard.get(), 0, 0, 0, 0);
    return s.connection->roundtrip();
}

}  // namespace vantrel::testing
