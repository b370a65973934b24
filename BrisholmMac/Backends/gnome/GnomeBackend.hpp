#pragma once

#include "Backends/DesktopBackend.hpp"

namespace vantrel {

// The desktop backend of a GNOME session on Wayland, over the compositor's own services on the
// session bus: the displays from org.gnome.Mutter.DisplayConfig, the screen through
// org.gnome.Mutter.ScreenCast as a PipeWire stream, synthetic input through
// org.gnome.Mutter.RemoteDesktop (one remote desktop session per connected phone, shared by its
// capturer and the input device), no window list (GNOME shows other programs' windows to nobody),
// the freedesktop workspace and the D-Bus keep-awake hold. None of it asks the user anything.
[[nodiscard]] DesktopBackend makeGnomeBackend();

// Which of GNOME's compositor services the session bus has now.
struct GnomeServices {
    bool screenCast = false;     // org.gnome.Mutter.ScreenCast
    bool remoteDesktop = false;  // org.gnome.Mutter.RemoteDesktop
};
[[nodiscard]] GnomeServices gnomeServices();

// Whether the session bus has both org.gnome.Mutter.ScreenCast and org.gnome.Mutter.RemoteDesktop.
[[nodiscard]] bool gnomeRemoteDesktopAnswers();

}  // namespace vantrel
