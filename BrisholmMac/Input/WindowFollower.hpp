#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "Geometry/Geometry.hpp"
#include "Platform/WindowList.hpp"

namespace vantrel {

// Where the stream should go: the display to switch to and the bounds of the window that caused
// it (the pointer goes to its centre).
struct FollowDecision {
    std::uint32_t display = 0;
    Rect window;

    bool operator==(const FollowDecision&) const = default;
};

// Decides when the streamed display should change because something opened on another display:
// a new window of the front application, or a switch to an application with no window on the
// streamed display. It only watches the window list; it never moves windows or switches displays.
//
// The controller calls check a few times a second while a client watches and following is on, and
// owns the two public fields: it clears primed whenever following starts afresh (a client connects,
// the display was switched, following was off) and stamps lastPhoneClick when the phone presses a
// button.
//
// Lives on the main thread (checked in debug builds); no lock.
class WindowFollower {
public:
    using Window = WindowList::Window;

    // displays lists where each display sits, in the inventory's order; uptimeSeconds is the
    // system's uptime, the clock of lastPhoneClick; windows and activations of ownPid never count.
    WindowFollower(std::shared_ptr<WindowList> windows, std::function<std::vector<DisplayBounds>()> displays,
                   std::function<double()> uptimeSeconds, pid_t ownPid);

    // System uptime, in seconds, of the phone's last button press.
    double lastPhoneClick = 0;
    // Whether a previous check recorded the windows and the front application to compare with.
    // Unprimed, a check only records them, so windows that existed when following began never
    // count as new.
    bool primed = false;

    // The display to switch to, away from activeDisplay, with the window that asks for it; none
    // when the stream should stay. Records the windows and the front application for the next
    // check, unless the window list could not be read.
    std::optional<FollowDecision> check(std::uint32_t activeDisplay);

    // The display showing most of rect (the earlier one of equals); none when rect lies on none.
    [[nodiscard]] std::optional<std::uint32_t> display(const Rect& of) const;
    [[nodiscard]] static std::optional<std::uint32_t> display(const Rect& of,
                                                              const std::vector<DisplayBounds>& displays);

private:
    [[nodiscard]] std::optional<FollowDecision> decide(const std::vector<Window>& all,
                                                       const WindowList::FrontApplication& front,
                                                       std::uint32_t activeDisplay) const;
    [[nodiscard]] bool suppressed(const WindowList::FrontApplication& front) const;

    std::shared_ptr<WindowList> windows_;
    std::function<std::vector<DisplayBounds>()> displays_;
    std::function<double()> uptimeSeconds_;
    std::set<std::uint32_t> known_;  // the windows of the previous check, of every application
    pid_t frontPID_ = 0;             // the front application at the previous check; 0 for none
    const pid_t ownPID_;
    const std::thread::id thread_ = std::this_thread::get_id();
};

}  // namespace vantrel
