#pragma once

#include <QString>

#include <string>

class QWidget;

// The host's two permissions in this desktop's terms, and the "Erlauben" actions of the panel.
// On X11 "Bildschirmaufnahme" is granted when the X display can be opened and read;
// "Bedienungshilfen" when its X server offers XTest, through which the phone's input is made. On
// GNOME with Wayland they are granted while the compositor's screen cast and remote desktop
// services answer (they ask the user nothing). Neither is something a settings dialog grants, so
// the actions explain what is missing and how to get it. Main thread only.
namespace vantrel::Permissions {

enum class Permission { screenRecording, accessibility };

// What the explanation depends on: the session's environment.
struct SessionFacts {
    std::string display;         // DISPLAY; empty when unset
    std::string waylandDisplay;  // WAYLAND_DISPLAY; empty when unset
    std::string sessionType;     // XDG_SESSION_TYPE; empty when unset
    // On Wayland: whether GNOME's compositor offers its screen cast and remote desktop services.
    bool gnomeScreenCast = false;
    bool gnomeRemoteDesktop = false;

    [[nodiscard]] static SessionFacts current();
};

struct Explanation {
    QString title;  // the permission's row title
    QString what;   // what is missing, and why the host needs it
    QString how;    // how to get it
};

// Why permission is missing in a session with facts. A Wayland session comes first: X clients of
// the compatibility server have a DISPLAY, yet see neither the desktop nor may they drive it. A
// Wayland session with one of GNOME's services is GNOME's, and is told about those.
[[nodiscard]] Explanation explain(Permission permission, const SessionFacts& facts);

// The actions of the two "Erlauben" buttons: a window with explain(...) for this session. It is
// not modal, closes on its own button and deletes itself when closed; returned for tests.
QWidget* requestScreenRecording();
QWidget* requestAccessibility();

}  // namespace vantrel::Permissions
