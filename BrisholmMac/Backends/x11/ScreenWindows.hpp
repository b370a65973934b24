#pragma once

#include <cstdint>
#include <optional>

#include "Geometry/Geometry.hpp"
#include "Platform/WindowList.hpp"
#include "Platform/desktop/WindowMatching.hpp"

namespace vantrel::desktop {

// What the X server tells about one managed window in the stacking list, already read.
struct StackedWindowFacts {
    // The space the window manager's decorations take around the window (_NET_FRAME_EXTENTS).
    struct Extents {
        double left = 0;
        double right = 0;
        double top = 0;
        double bottom = 0;
    };

    std::uint32_t window = 0;
    WindowFacts::Type type = WindowFacts::Type::unset;  // the first _NET_WM_WINDOW_TYPE
    bool transient = false;                             // WM_TRANSIENT_FOR is set
    bool viewable = false;                 // mapped with every ancestor: not minimised, not on another workspace
    bool hidden = false;                   // _NET_WM_STATE_HIDDEN
    std::optional<std::uint32_t> opacity;  // _NET_WM_WINDOW_OPACITY, 0xffffffff is opaque
    std::optional<std::uint32_t> pid;      // _NET_WM_PID
    std::optional<Rect> area;              // the window with its border, in root coordinates
    Extents extents;
};

// The process a window names as its owner (_NET_WM_PID): process ids are positive and fit a
// signed 32-bit number, anything else names no process.
[[nodiscard]] std::optional<pid_t> owningProcess(std::optional<std::uint32_t> pid);

// The window as the follower sees it, or absent when it does not count: only ordinary
// application windows (typed normal, or untyped and not transient for another, which the
// window-manager conventions take as a dialog) that show on screen, are more than 5 % opaque, name
// their owner and whose frame is at least 120 by 80 points.
[[nodiscard]] std::optional<WindowList::Window> screenWindow(const StackedWindowFacts& facts);

}  // namespace vantrel::desktop
