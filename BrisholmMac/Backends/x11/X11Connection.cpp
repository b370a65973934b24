#include "Platform/x11/XcbHandles.hpp"

#include "Log/DiagnosticLog.hpp"

namespace vantrel::x11 {

XcbConnection connectToDisplay(const char* purpose, xcb_screen_t** screen) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        diagnosticLog().warn("{}: DISPLAY is not set", purpose);
        return nullptr;
    }
    int screenNumber = 0;
    XcbConnection connection(xcb_connect(nullptr, &screenNumber));
    if (!connection || xcb_connection_has_error(connection.get()) != 0) {
        diagnosticLog().warn("{}: cannot open display {}", purpose, display);
        return nullptr;
    }
    auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int index = 0; index < screenNumber && roots.rem > 0; ++index) {
        xcb_screen_next(&roots);
    }
    if (roots.rem == 0) {
        diagnosticLog().warn("{}: display {} has no screen {}", purpose, display, screenNumber);
        return nullptr;
    }
    *screen = roots.data;
    return connection;
}

}  // namespace vantrel::x11
