#include "Backends/x11/X11SessionChecks.hpp"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include "Backends/x11/PointerMotion.hpp"
#include "Backends/x11/X11Connection.hpp"

namespace vantrel::x11 {

X11SessionChecks::X11SessionChecks(std::shared_ptr<SharedConnection> shared, std::chrono::milliseconds askAtLeastEvery)
    : shared_(std::move(shared)), askAtLeastEvery_(askAtLeastEvery) {}

bool X11SessionChecks::screenReadable() {
    const auto connection = shared_->reopened();
    if (!connection) {
        return false;
    }
    // Asked every few seconds whether a phone is connected or not: the events nobody asked about
    // yet (the input device hears of every window change on the root) are read off here, so they
    // do not pile up while no phone uses the device.
    connection->dispatchPending();
    xcb_connection_t* const c = connection->get();
    const auto cookie = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, connection->root(), 0, 0, 1, 1, ~std::uint32_t{0});
    const XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(c, cookie, nullptr));
    return reply != nullptr;
}

bool X11SessionChecks::offersSyntheticInput() {
    const auto connection = shared_->reopened();
    return connection && connection->extension(xcb_test_id).has_value();
}

std::optional<Point> X11SessionChecks::pointerLocation() {
    const auto connection = shared_->reopened();
    if (!connection) {
        return std::nullopt;
    }
    if (connection != watched_) {
        watched_ = connection;
        motion_ = watchPointerMotion(*connection, [this] { moved_ = true; });
        moved_ = true;
    }
    connection->dispatchPending();
    const auto now = std::chrono::steady_clock::now();
    if (motion_ && !moved_ && pointer_ && now - askedAt_ < askAtLeastEvery_) {
        return pointer_;
    }
    // Motion reported from here on, even while the answer is on its way, asks again next time.
    moved_ = false;
    askedAt_ = now;
    xcb_connection_t* const c = connection->get();
    const XcbReply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, connection->root()), nullptr));
    if (!reply) {
        pointer_.reset();
        return std::nullopt;
    }
    pointer_ = Point{static_cast<double>(reply->root_x), static_cast<double>(reply->root_y)};
    return pointer_;
}

std::optional<DescriptorNews> X11SessionChecks::pointerNews() {
    if (!motion_ || !watched_ || watched_->broken()) {
        return std::nullopt;
    }
    // Events that came in with the last reply wait inside xcb, where the descriptor says nothing
    // of them. Once they are read, the descriptor turns readable with the next event.
    watched_->dispatchPending();
    if (moved_) {
        return std::nullopt;  // motion came meanwhile: no rest
    }
    return DescriptorNews{xcb_get_file_descriptor(watched_->get()), askAtLeastEvery_};
}

}  // namespace vantrel::x11
