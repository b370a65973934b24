#pragma once

#include <optional>
#include <string>

namespace vantrel {

// Whether this desktop session can be watched and operated through X11 at all.

// Why it cannot, in the menu's words, when the session is Wayland (XDG_SESSION_TYPE) or no X
// display can be reached; none for an X11 session. Such a session must say so instead of
// streaming black pictures.
[[nodiscard]] std::optional<std::string> unsupportedSessionReason();

// Whether the screen can be read: a one-pixel grab of the root window succeeds.
[[nodiscard]] bool x11ScreenReadable();

}  // namespace vantrel
