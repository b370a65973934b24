#include "Backends/x11/EwmhWindowList.hpp"

#include "Backends/x11/X11Connection.hpp"
#include "Backends/x11/X11Windows.hpp"
#include "Log/DiagnosticLog.hpp"
#include "Platform/desktop/DesktopEntries.hpp"

namespace vantrel::desktop {

EwmhWindowList::EwmhWindowList(std::shared_ptr<x11::SharedConnection> shared) : shared_(std::move(shared)) {}
EwmhWindowList::~EwmhWindowList() = default;

X11Windows* EwmhWindowList::connection() {
    return X11Windows::on(*shared_, x11_);
}

std::optional<std::vector<WindowList::Window>> EwmhWindowList::windows() {
    X11Windows* const x11 = connection();
    auto facts = x11 != nullptr ? x11->stackedWindows() : std::nullopt;
    if (!facts) {
        if (!unreadableLogged_) {
            unreadableLogged_ = true;
            diagnosticLog().warn("window list: cannot read the window manager's stacking list ({})",
                                 x11 == nullptr ? "no X display" : "no EWMH window manager, or the display went away");
        }
        return std::nullopt;
    }
    if (unreadableLogged_) {
        unreadableLogged_ = false;
        diagnosticLog().info("window list: the window manager's stacking list is readable again");
    }
    std::vector<Window> windows;
    for (const auto& window : *facts) {
        if (auto shown = screenWindow(window)) {
            windows.push_back(*shown);
        }
    }
    return windows;
}

WindowList::FrontApplication EwmhWindowList::frontApplication() {
    X11Windows* const x11 = connection();
    const auto active = x11 != nullptr ? x11->activeWindow() : std::nullopt;
    if (!active) {
        return {};
    }
    if (active != lastActive_) {
        lastActive_ = active;
        const auto facts = x11->windowFacts(*active);
        DesktopEntries entries;
        lastActiveId_ = facts ? matchDesktopEntry(*facts, entries.lookup()) : std::nullopt;
    }
    return {owningProcess(x11->pidOf(*active)).value_or(0), lastActiveId_};
}

std::optional<std::string> EwmhWindowList::fileBrowserId() {
    return fileBrowserEntryId();
}

}  // namespace vantrel::desktop
