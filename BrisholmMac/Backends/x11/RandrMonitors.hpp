#pragma once

#include <xcb/xcb.h>

#include <optional>
#include <vector>

#include "Capture/Displays.hpp"
#include "Platform/x11/XcbHandles.hpp"

namespace vantrel::x11 {

// A connection to DISPLAY whose server speaks RandR 1.5 (monitors), and its screen; null with a
// log line naming purpose when there is none.
[[nodiscard]] XcbConnection connectForMonitors(const char* purpose, xcb_screen_t** screen);

// The active RandR monitors of root in the server's order; with names, the monitor's name, its
// first output's name and that output's EDID product name too. No value when the request fails.
[[nodiscard]] std::optional<std::vector<MonitorFacts>> readMonitors(xcb_connection_t* connection, xcb_window_t root,
                                                                    bool withNames);

}  // namespace vantrel::x11
