#pragma once

#include "Backends/DesktopBackend.hpp"

namespace vantrel {

// The desktop backend of a GNOME session on Wayland, over the compositor's own services on the
// session bus: the displays from org.gnome.Mutter.DisplayConfig, the screen through
// org.gnome.Mutter.ScreenCast as a PipeWire stream, synthetic input through
// org.gnome.Mutter.RemoteDesktop (one remote desktop session per connected phone, shared by its
// capturer and the input device), no window list (GNOME shows other programs' windows to nobody),
// the freedesktop workspace and the D-Bus keep-awake hold. None of it asks the user anything.
//
// In its portal form (GNOME without those services) and when the compositor refuses this program
// at the first session, the picture and the input come through the desktop portal instead, which
// asks the user at the computer: the picture's approval is kept in the keyring, so the dialog
// comes once; the input's is asked again for each phone.
enum class GnomeRoute { compositor, portal };
[[nodiscard]] DesktopBackend makeGnomeBackend(GnomeRoute route = GnomeRoute::compositor);

// Which of GNOME's compositor services the session bus has now.
struct GnomeServices {
    bool screenCast = false;     // org.gnome.Mutter.ScreenCast
    bool remoteDesktop = false;  // org.gnome.Mutter.RemoteDesktop
};
[[nodiscard]] GnomeServices gnomeServices();

// Whether the session bus has both org.gnome.Mutter.ScreenCast and org.gnome.Mutter.RemoteDesktop.
[[nodiscard]] bool gnomeRemoteDesktopAnswers();

// Whether the desktop portal offers remote desktop on the session bus (starting it on demand).
[[nodiscard]] bool portalRemoteDesktopAnswers();

}  // namespace vantrel
