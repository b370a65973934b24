#include "Platform/desktop/X11Session.hpp"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string_view>

namespace vantrel {

namespace {

struct XcbDisconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using Connection = std::unique_ptr<xcb_connection_t, XcbDisconnect>;

Connection connectToDisplay(int* screenNumber) {
    Connection connection(xcb_connect(nullptr, screenNumber));
    if (xcb_connection_has_error(connection.get()) != 0) {
        return nullptr;
    }
    return connection;
}

}  // namespace

std::optional<std::string> unsupportedSessionReason() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    if (type != nullptr && std::string_view(type) == "wayland") {
        return std::string(
            "Diese Sitzung ist eine Wayland-Sitzung. Bisher werden nur X11-Sitzungen unterstützt: bitte mit einer "
            "X11-Sitzung anmelden.");
    }
    int screen = 0;
    if (!connectToDisplay(&screen)) {
        return std::string("Kein X11-Bildschirm erreichbar (DISPLAY). Bisher werden nur X11-Sitzungen unterstützt.");
    }
    return std::nullopt;
}

bool x11ScreenReadable() {
    int screenNumber = 0;
    const auto connection = connectToDisplay(&screenNumber);
    if (!connection) {
        return false;
    }
    auto iterator = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int index = 0; index < screenNumber && iterator.rem > 0; ++index) {
        xcb_screen_next(&iterator);
    }
    if (iterator.rem == 0) {
        return false;
    }
    const auto cookie =
        xcb_get_image(connection.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, iterator.data->root, 0, 0, 1, 1, ~std::uint32_t{0});
    std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> reply(
        xcb_get_image_reply(connection.get(), cookie, nullptr), &std::free);
    return reply != nullptr;
}

}  // namespace vantrel
