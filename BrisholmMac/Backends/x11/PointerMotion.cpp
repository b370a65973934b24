#include "Backends/x11/PointerMotion.hpp"

#include <xcb/xinput.h>

#include <cstdint>
#include <utility>

namespace vantrel::x11 {

std::optional<X11Connection::Subscription> watchPointerMotion(X11Connection& connection, std::function<void()> moved) {
    xcb_connection_t* const c = connection.get();
    const auto* extension = xcb_get_extension_data(c, &xcb_input_id);
    if (extension == nullptr || extension->present == 0) {
        return std::nullopt;
    }
    // The server answers XInput 2 requests only from a client that said which version it speaks.
    const XcbReply<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 0), nullptr));
    if (!version || version->major_version < 2) {
        return std::nullopt;
    }
    const std::uint8_t opcode = extension->major_opcode;
    auto subscription =
        connection.subscribe(XCB_GE_GENERIC, [opcode, moved = std::move(moved)](const xcb_generic_event_t& event) {
            const auto& generic = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
            if (generic.extension == opcode && generic.event_type == XCB_INPUT_RAW_MOTION) {
                moved();
            }
        });
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t mask;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_MOTION};
    if (!connection.check(xcb_input_xi_select_events_checked(c, connection.root(), 1, &selection.head),
                          connection.purpose() + ": asking for pointer motion")) {
        return std::nullopt;
    }
    return subscription;
}

}  // namespace vantrel::x11
