#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "Capture/Displays.hpp"

namespace vantrel::gnome {

// A monitor's number for the phone and the streamer: a hash of its connector ("DP-1"), the same
// at every read and in every process while the monitor stays plugged into that connector. Never 0.
[[nodiscard]] std::uint32_t monitorId(std::string_view connector);

// The logical monitors of a reply of org.gnome.Mutter.DisplayConfig.GetCurrentState
// ("(ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv})"), in the compositor's order: one
// per logical monitor, named by its first monitor (the connector as monitor and output name, the
// compositor's display name, vendor and product, as the product name), placed and sized in logical
// pixels (the layout's own units; a rotated monitor is as high as its mode is wide). Pure: tests
// feed it replies as text. A reply of another shape gives no monitors.
[[nodiscard]] std::vector<MonitorFacts> monitorsFromState(GVariant* state);

// The monitors now, asked of the compositor over connection; empty (with a log line) when it
// does not answer.
[[nodiscard]] std::vector<MonitorFacts> readMonitors(GDBusConnection* connection);

// The displays of a GNOME session, read from the compositor at each call over the process's
// session bus. Lives on the main thread.
[[nodiscard]] std::shared_ptr<Displays> makeGnomeDisplays();

}  // namespace vantrel::gnome
