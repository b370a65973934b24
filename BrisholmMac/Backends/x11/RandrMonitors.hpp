#pragma once

#include <xcb/xcb.h>

#include <optional>
#include <vector>

#include "Backends/x11/X11Connection.hpp"
#include "Capture/Displays.hpp"

namespace vantrel::x11 {

// Whether the connection's server speaks RandR 1.5 (monitors), which the displays and the capture
// read; false with a log line naming the connection's purpose when it does not. Asks for the
// version, which the server wants to hear before answering RandR requests as that version does.
[[nodiscard]] bool speaksMonitors(const X11Connection& connection);

// The active RandR monitors of root in the server's order; with names, the monitor's name, its
// first output's name and that output's EDID product name too. No value when the request fails.
[[nodiscard]] std::optional<std::vector<MonitorFacts>> readMonitors(xcb_connection_t* connection, xcb_window_t root,
                                                                    bool withNames);

}  // namespace vantrel::x11
