#pragma once

#include <string>
#include <vector>

namespace vantrel::desktop {

// The desktop-entry ids pinned in GNOME's dash ("favorite-apps" of the "org.gnome.shell" schema),
// in the user's order. Empty when the schema is not installed, as on desktops other than GNOME:
// GIO aborts the process when asked for settings of an unknown schema, so it is looked up first.
//
// schemaDirectory names a directory of compiled schemas searched before the system's; empty means
// the system's schemas only. Callable on any thread.
[[nodiscard]] std::vector<std::string> gnomeFavourites(const std::string& schemaDirectory = {});

}  // namespace vantrel::desktop
