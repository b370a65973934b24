#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Backends/DesktopBackend.hpp"

namespace vantrel {

class Workspace;

// What decides which backend serves this desktop session, as plain values read from the
// environment at start.
struct SessionFacts {
    std::string sessionType;       // XDG_SESSION_TYPE: "x11", "wayland", "tty"; empty when unset
    std::string waylandDisplay;    // WAYLAND_DISPLAY; empty when unset
    std::string display;           // DISPLAY; empty when unset
    std::string currentDesktop;    // XDG_CURRENT_DESKTOP: "GNOME", "sway" ...; empty when unset
    bool xDisplayAnswers = false;  // a connection to DISPLAY opens
    // The globals the Wayland compositor on WAYLAND_DISPLAY offers; none when it does not answer
    // (or no WAYLAND_DISPLAY is set).
    std::optional<std::vector<std::string>> waylandInterfaces;
    // The session bus has both org.gnome.Mutter.ScreenCast and org.gnome.Mutter.RemoteDesktop
    // (GNOME's compositor offers its screen and synthetic input without a dialog). Asked only of a
    // Wayland session.
    bool gnomeRemoteDesktop = false;
    // The desktop portal offers remote desktop on the session bus (org.freedesktop.portal.Desktop
    // with its RemoteDesktop interface), which asks the user at the computer. Asked only of a
    // GNOME session on Wayland without GNOME's own services.
    bool portalRemoteDesktop = false;
};

// The kinds of desktop session the host serves. A new one is a value here, a branch in
// chooseBackend and its maker in makeDesktopBackend.
enum class BackendKind { x11, wlroots, waylandGnome, waylandGnomePortal };

[[nodiscard]] const char* backendName(BackendKind kind);

// The backend for a session, or why none serves it.
struct BackendChoice {
    std::optional<BackendKind> kind;
    // With a kind: why it fits, for the log. Without: why no backend serves the session, in the
    // panel's words (it shows them as the capture error).
    std::string reason;
};

// The rule, pure. A Wayland session (XDG_SESSION_TYPE=wayland, or no session type but a
// WAYLAND_DISPLAY and no X display) is served by the backend its compositor fits: wayland-gnome
// where the session bus offers GNOME's screen cast and remote desktop services, in its portal form
// (wayland-gnome-portal) where a GNOME desktop lacks those but has the desktop portal's remote
// desktop, else wlroots where the compositor offers screencopy and the virtual pointer and
// keyboard. Never by X11, even when
// Xwayland answers on DISPLAY: it shows no native window and would stream black. Outside Wayland an
// X display that answers is served by the X11 backend; without one nothing is.
[[nodiscard]] BackendChoice chooseBackend(const SessionFacts& facts);

// The facts of this process's session (opens and closes a connection to DISPLAY to see whether it
// answers; in a Wayland session asks the session bus for GNOME's services).
[[nodiscard]] SessionFacts readSessionFacts();

// The backend of this session, chosen by chooseBackend over readSessionFacts() and logged once
// ("desktop backend: x11 (...)" at info, the reason none fits at warn). For a session no backend
// serves, a backend with `unsupported` set whose desktop parts answer nothing (no displays, no
// capture, no input device, an empty window list, session checks saying no), with the generic
// keep-awake hold and workspace, which work over D-Bus and GIO whatever draws the desktop.
[[nodiscard]] DesktopBackend makeDesktopBackend();

// The workspace alone, chosen the same way but logged only at debug: the headless host's
// application list, which runs with or without a desktop session.
[[nodiscard]] std::shared_ptr<Workspace> makeSessionWorkspace();

}  // namespace vantrel
