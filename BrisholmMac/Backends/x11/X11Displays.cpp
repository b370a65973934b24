#include <xcb/randr.h>

#include "Capture/Displays.hpp"
#include "Log/DiagnosticLog.hpp"
#include "Platform/x11/RandrMonitors.hpp"
#include "Platform/x11/XcbHandles.hpp"

namespace vantrel {

namespace {

// The displays of one X connection, read afresh at every call.
class X11Displays final : public Displays {
public:
    X11Displays(x11::XcbConnection connection, xcb_window_t root) : connection_(std::move(connection)), root_(root) {}

protected:
    std::vector<MonitorFacts> monitors() override {
        if (xcb_connection_has_error(connection_.get()) != 0) {
            if (!reportedBroken_) {
                diagnosticLog().warn("displays: the connection to the X display broke");
                reportedBroken_ = true;
            }
            return {};
        }
        auto monitors = x11::readMonitors(connection_.get(), root_, true);
        if (!monitors) {
            diagnosticLog().warn("displays: reading the RandR monitors failed");
            return {};
        }
        return std::move(*monitors);
    }

private:
    x11::XcbConnection connection_;
    xcb_window_t root_;
    bool reportedBroken_ = false;
};

}  // namespace

std::shared_ptr<Displays> Displays::create() {
    xcb_screen_t* screen = nullptr;
    auto connection = x11::connectForMonitors("displays", &screen);
    if (!connection) {
        return nullptr;
    }
    return std::make_shared<X11Displays>(std::move(connection), screen->root);
}

}  // namespace vantrel
