#pragma once

#include <xcb/xcb.h>

#include <optional>
#include <vector>

#include "Capture/Displays.hpp"

namespace vantrel::x11 {

// Whether the server speaks RandR 1.5 (monitors); logged once per purpose when it does not.
[[nodiscard]] bool hasRandrMonitors(xcb_connection_t* connection);

// The active RandR monitors of root in the server's order; with names, the monitor's name, its
// first output's name and that output's EDID product name too. No value when the request fails.
[[nodiscard]] std::optional<std::vector<MonitorFacts>> readMonitors(xcb_connection_t* connection, xcb_window_t root,
                                                                    bool withNames);

}  // namespace vantrel::x11
