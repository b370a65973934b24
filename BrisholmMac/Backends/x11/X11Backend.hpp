#pragma once

#include <optional>
#include <string>

#include "Backends/DesktopBackend.hpp"

namespace vantrel {

// The desktop backend of an X11 session (Xorg, Xvfb) on the display named displayName (DISPLAY
// when none): RandR monitors, MIT-SHM/DAMAGE/XFIXES capture, XTest with the live XKB keymap, the
// EWMH window list, the freedesktop workspace with the window manager's client list, and the
// D-Bus keep-awake hold plus the X screen saver's suspension. Every part on the main thread shares
// one connection to the display; each capturer opens its own on the capture queue.
[[nodiscard]] DesktopBackend makeX11Backend(const std::optional<std::string>& displayName = {});

// Whether the X display named displayName (DISPLAY when none) answers: a connection to it opens.
[[nodiscard]] bool x11DisplayAnswers(const std::optional<std::string>& displayName = {});

}  // namespace vantrel
