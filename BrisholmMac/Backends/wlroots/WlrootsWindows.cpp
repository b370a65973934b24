#include "Backends/wlroots/WlrootsWindows.hpp"

#include <algorithm>

#include "Backends/wlroots/MainConnection.hpp"
#include "Log/DiagnosticLog.hpp"
#include "Platform/desktop/DesktopEntries.hpp"

namespace vantrel::wayland {

namespace {

// The compositor's windows as of now: what it sent since the last look is dispatched first. None
// when there is no connection or the compositor keeps no window list.
std::optional<std::vector<ToplevelFacts>> currentToplevels(MainConnection& main) {
    ForeignToplevels* const toplevels = main.toplevels();
    if (toplevels == nullptr || !main.get()->dispatchPending() || !toplevels->available()) {
        return std::nullopt;
    }
    return toplevels->toplevels();
}

}  // namespace

WlrootsWindowList::WlrootsWindowList(std::shared_ptr<MainConnection> connection, pid_t ownPid,
                                     std::set<std::string> ownApplicationIds)
    : connection_(std::move(connection)), owners_(ownPid, std::move(ownApplicationIds)) {}

std::optional<std::vector<ToplevelFacts>> WlrootsWindowList::read() {
    auto toplevels = currentToplevels(*connection_);
    if (!toplevels) {
        if (!unreadableLogged_) {
            unreadableLogged_ = true;
            diagnosticLog().warn("window list: cannot read the compositor's windows");
        }
        return std::nullopt;
    }
    if (unreadableLogged_) {
        unreadableLogged_ = false;
        diagnosticLog().info("window list: the compositor's windows are readable again");
    }
    return toplevels;
}

std::optional<std::vector<WindowList::Window>> WlrootsWindowList::windows() {
    const auto toplevels = read();
    if (!toplevels) {
        return std::nullopt;
    }
    WaylandOutputs* const outputs = connection_->outputs();
    return toplevelWindows(*toplevels, outputs != nullptr ? outputs->outputs() : std::vector<OutputFacts>{}, owners_);
}

WindowList::FrontApplication WlrootsWindowList::frontApplication() {
    const auto toplevels = read();
    if (!toplevels) {
        return {};
    }
    const auto active = std::find_if(toplevels->begin(), toplevels->end(),
                                     [](const ToplevelFacts& toplevel) { return toplevel.activated; });
    if (active == toplevels->end()) {
        return {};
    }
    if (active->id != lastActive_) {
        lastActive_ = active->id;
        desktop::DesktopEntries entries;
        lastActiveId_ = desktop::matchDesktopEntry(toplevelWindowFacts(*active), entries.lookup());
    }
    return {owners_.ownerOf(*active), lastActiveId_};
}

std::optional<std::string> WlrootsWindowList::fileBrowserId() {
    return desktop::fileBrowserEntryId();
}

WlrootsRunningWindows::WlrootsRunningWindows(std::shared_ptr<MainConnection> connection)
    : connection_(std::move(connection)) {}

std::vector<desktop::WindowFacts> WlrootsRunningWindows::clientWindows() {
    std::vector<desktop::WindowFacts> windows;
    for (const auto& toplevel : currentToplevels(*connection_).value_or(std::vector<ToplevelFacts>{})) {
        windows.push_back(toplevelWindowFacts(toplevel));
    }
    return windows;
}

bool WlrootsRunningWindows::activateFrontmost(const std::unordered_set<std::uint32_t>& windows) {
    const auto toplevels = currentToplevels(*connection_);
    if (!toplevels) {
        return false;
    }
    for (const auto& toplevel : frontToBack(*toplevels)) {
        if (windows.contains(toplevel.id)) {
            return connection_->toplevels()->activate(toplevel.id);
        }
    }
    return false;
}

}  // namespace vantrel::wayland
