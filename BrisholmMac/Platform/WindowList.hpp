#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Geometry/Geometry.hpp"

namespace vantrel {

// The windows the user sees on the desktop and the application in front, as the window follower
// needs them to notice that something opened on another display.
//
// Lives on the main thread.
class WindowList {
public:
    // One ordinary application window that shows on screen now.
    struct Window {
        std::uint32_t id = 0;  // the platform's window number
        // The process that owns it (never 0). Where the session tells no process (Wayland's
        // foreign toplevels), the backend numbers each application above any process id and
        // gives the host's own windows the host's pid: the follower only compares owners.
        pid_t pid = 0;
        // Its frame, decorations included, in global desktop points; where the session tells no
        // place (Wayland), the bounds of the display it shows on.
        Rect bounds;

        bool operator==(const Window&) const = default;
    };

    // The application that has the keyboard focus.
    struct FrontApplication {
        pid_t pid = 0;                  // its owner, as Window::pid; 0 when no application is in front
        std::optional<std::string> id;  // its application identifier, when one is known

        bool operator==(const FrontApplication&) const = default;
    };

    virtual ~WindowList() = default;

    // The ordinary application windows on screen, from the front to the back: not minimised or
    // hidden, not fully transparent, at least 120 by 80 points. Absent when the window list cannot
    // be read at all, which is not the same as an empty desktop.
    [[nodiscard]] virtual std::optional<std::vector<Window>> windows() = 0;

    // The application in front now (pid 0 when none is).
    [[nodiscard]] virtual FrontApplication frontApplication() = 0;

    // The identifier of the application that plays the file browser. It may draw the desktop
    // background, so a click there brings it to the front without the user asking for any of its
    // windows.
    [[nodiscard]] virtual std::optional<std::string> fileBrowserId() = 0;
};

}  // namespace vantrel
