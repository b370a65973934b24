#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantrel {

class Displays;
class InputDevice;
class KeepAwake;
class ScreenCapturer;
class SessionChecks;
class WindowList;
class Workspace;

// What the desktop host needs of one kind of desktop session (an X11 session today; room for
// GNOME's and the wlroots compositors on Wayland): one implementation of each desktop service.
// The host owns it and uses every part on the main thread, except makeCapturer's capturers,
// which live on the capture queue.
struct DesktopBackend {
    // The kind of session, for the log ("x11").
    std::string name;
    // Set when no backend serves this session: why, in the panel's words. The parts then answer
    // nothing (no displays, no capture, no input) and the host says so instead of streaming black.
    std::optional<std::string> unsupported;
    // Whether the window list shows other programs' windows, so that the stream can follow a new
    // one to another display. When not (GNOME on Wayland), the host never runs the follower and
    // the panel shows noFollowingReason, in its words, instead of the switch (a backend whose
    // session asks the user at the computer, GNOME's portal form, says there what to approve).
    bool followsWindows = true;
    std::string noFollowingReason;

    // Null when the session's displays cannot be read (no backend serves the session; an X server
    // without RandR 1.5 monitors).
    std::shared_ptr<Displays> displays;
    // A capturer for each started stream, made on the capture queue; null when the screen cannot
    // be read (the reason is in the diagnostic log).
    std::function<std::unique_ptr<ScreenCapturer>()> makeCapturer;
    // The synthetic pointer and keyboard; null when the session takes none or the device cannot be
    // opened now (the host tries again at its next refresh).
    std::function<std::shared_ptr<InputDevice>()> openInputDevice;
    std::shared_ptr<WindowList> windows;
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<SessionChecks> checks;
    std::shared_ptr<KeepAwake> keepAwake;
};

}  // namespace vantrel
