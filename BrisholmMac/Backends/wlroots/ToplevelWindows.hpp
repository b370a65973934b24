#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Backends/wlroots/ForeignToplevels.hpp"
#include "Backends/wlroots/WaylandOutputs.hpp"
#include "Platform/WindowList.hpp"
#include "Platform/desktop/WindowMatching.hpp"

namespace vantrel::wayland {

// The id the host's own panel gives the compositor: Qt names a window after the program's desktop
// entry (brisholm.desktop), or else after its executable, both "brisholm".
inline constexpr const char* hostApplicationId = "brisholm";

// Who owns a window, where the compositor tells no process: one number per application id, the
// same for as long as the list lives, which is what the follower compares to group the front
// application's windows. The host's own application ids get the host's process id, so its windows
// and activations never count; every other number lies above any process id (at most 2^22 on
// Linux), so no window can pass for the host's. A window without an application id is an
// application of its own.
class ApplicationOwners {
public:
    ApplicationOwners(pid_t ownPid, std::set<std::string> ownApplicationIds);

    [[nodiscard]] pid_t ownerOf(const ToplevelFacts& toplevel);

private:
    pid_t ownPid_;
    std::set<std::string> ownIds_;
    std::map<std::string, pid_t> numbers_;
    std::map<std::uint32_t, pid_t> anonymous_;  // by window, for windows without an application id
    pid_t next_ = pid_t(1) << 24;
};

// The windows from the front to the back as far as the compositor lets one tell: the active one,
// then the others from the most recently active, then those never active, the newest first.
[[nodiscard]] std::vector<ToplevelFacts> frontToBack(std::vector<ToplevelFacts> toplevels);

// The window list the follower watches: the windows that show (not minimised, on an output that is
// listed), from the front to the back. The compositor tells no place, so a window's bounds are the
// output it entered first and still shows on: the follower only asks which display holds it, and
// the pointer goes to that output's centre.
[[nodiscard]] std::vector<WindowList::Window> toplevelWindows(const std::vector<ToplevelFacts>& toplevels,
                                                              const std::vector<OutputFacts>& outputs,
                                                              ApplicationOwners& owners);

// The window as desktop-entry matching and the running applications see it: the application id
// is the entry's id without ".desktop", as Wayland asks, and many docks also match it against an
// entry's StartupWMClass, so it stands for the class too. A window with a parent is a dialog.
[[nodiscard]] desktop::WindowFacts toplevelWindowFacts(const ToplevelFacts& toplevel);

}  // namespace vantrel::wayland
