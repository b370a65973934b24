#include "Platform/desktop/X11Session.hpp"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <string_view>

#include "Log/DiagnosticLog.hpp"
#include "Platform/x11/XcbHandles.hpp"

namespace vantrel {

namespace {

x11::XcbConnection connectToDisplay(int* screenNumber) {
    x11::XcbConnection connection(xcb_connect(nullptr, screenNumber));
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

struct X11SessionChecks::Connection {
    x11::XcbConnection handle;
    xcb_window_t root = XCB_NONE;

    [[nodiscard]] xcb_connection_t* get() const { return handle.get(); }
};

X11SessionChecks::X11SessionChecks() = default;
X11SessionChecks::~X11SessionChecks() = default;

X11SessionChecks::Connection* X11SessionChecks::connection() {
    if (connection_ && xcb_connection_has_error(connection_->get()) == 0) {
        return connection_.get();
    }
    if (connection_) {
        diagnosticLog().info("the connection for the session checks to the X display broke; opening it again");
    }
    connection_.reset();
    int screenNumber = 0;
    auto handle = connectToDisplay(&screenNumber);
    if (!handle) {
        return nullptr;
    }
    auto iterator = xcb_setup_roots_iterator(xcb_get_setup(handle.get()));
    for (int index = 0; index < screenNumber && iterator.rem > 0; ++index) {
        xcb_screen_next(&iterator);
    }
    if (iterator.rem == 0) {
        return nullptr;
    }
    connection_ = std::make_unique<Connection>(Connection{std::move(handle), iterator.data->root});
    return connection_.get();
}

bool X11SessionChecks::screenReadable() {
    auto* c = connection();
    if (c == nullptr) {
        return false;
    }
    const auto cookie = xcb_get_image(c->get(), XCB_IMAGE_FORMAT_Z_PIXMAP, c->root, 0, 0, 1, 1, ~std::uint32_t{0});
    const x11::XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(c->get(), cookie, nullptr));
    return reply != nullptr;
}

bool X11SessionChecks::offersSyntheticInput() {
    auto* c = connection();
    if (c == nullptr) {
        return false;
    }
    const auto* extension = xcb_get_extension_data(c->get(), &xcb_test_id);
    return extension != nullptr && extension->present != 0;
}

std::optional<Point> X11SessionChecks::pointerLocation() {
    auto* c = connection();
    if (c == nullptr) {
        return std::nullopt;
    }
    const x11::XcbReply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(c->get(), xcb_query_pointer(c->get(), c->root), nullptr));
    if (!reply) {
        return std::nullopt;
    }
    return Point{static_cast<double>(reply->root_x), static_cast<double>(reply->root_y)};
}

}  // namespace vantrel
