#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Geometry/Geometry.hpp"

namespace vantrel {

// Whether this desktop session can be watched and operated through X11 at all.

// Why it cannot, in the menu's words, when the session is Wayland (XDG_SESSION_TYPE) or no X
// display can be reached; none for an X11 session. Such a session must say so instead of
// streaming black pictures.
[[nodiscard]] std::optional<std::string> unsupportedSessionReason();

// The controller's questions to the X display, asked every few seconds (permissions) or twenty
// times a second (the pointer), on one connection kept open for them; a connection that broke is
// opened again at the next question.
//
// Lives on the main thread.
class X11SessionChecks {
public:
    X11SessionChecks();
    ~X11SessionChecks();
    X11SessionChecks(const X11SessionChecks&) = delete;
    X11SessionChecks& operator=(const X11SessionChecks&) = delete;

    // Whether the screen can be read: a one-pixel grab of the root window succeeds.
    [[nodiscard]] bool screenReadable();
    // Whether the display takes synthetic input (the XTEST extension).
    [[nodiscard]] bool offersSyntheticInput();
    // Where the pointer is, in desktop points; none when the display cannot be read.
    [[nodiscard]] std::optional<Point> pointerLocation();

private:
    struct Connection;
    // The open connection, opened (again) when there is none or it broke; null when the display
    // cannot be reached.
    Connection* connection();

    std::unique_ptr<Connection> connection_;
};

}  // namespace vantrel
