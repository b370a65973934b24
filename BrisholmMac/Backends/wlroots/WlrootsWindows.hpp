#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "Backends/wlroots/ToplevelWindows.hpp"
#include "Platform/WindowList.hpp"
#include "Platform/desktop/DesktopWorkspace.hpp"

namespace vantrel::wayland {

class MainConnection;

// The window list of a wlroots compositor, from its foreign toplevels on the main connection: the
// windows that show, from the front to the back (toplevelWindows), owned by their application
// (ApplicationOwners: the host's own windows carry the host's pid); the front application is the
// active window's, with its desktop entry found as the catalog finds it; the file browser is the
// default handler of folders. Each call first dispatches what the compositor sent since the last.
//
// Lives on the main thread.
class WlrootsWindowList final : public WindowList {
public:
    WlrootsWindowList(std::shared_ptr<MainConnection> connection, pid_t ownPid,
                      std::set<std::string> ownApplicationIds = {hostApplicationId});

    std::optional<std::vector<Window>> windows() override;
    FrontApplication frontApplication() override;
    std::optional<std::string> fileBrowserId() override;

private:
    // The windows as of now; none when the compositor's window list cannot be read.
    std::optional<std::vector<ToplevelFacts>> read();

    std::shared_ptr<MainConnection> connection_;
    ApplicationOwners owners_;
    bool unreadableLogged_ = false;
    // The active window whose desktop entry was looked up last: the id is asked for several times
    // a second, and matching an entry may read every installed one.
    std::optional<std::uint32_t> lastActive_;
    std::optional<std::string> lastActiveId_;
};

// The workspace's running windows: the compositor's windows, oldest first, brought forward with the
// compositor's activation for the connection's seat.
//
// Lives on the main thread.
class WlrootsRunningWindows final : public desktop::RunningWindows {
public:
    explicit WlrootsRunningWindows(std::shared_ptr<MainConnection> connection);

    std::vector<desktop::WindowFacts> clientWindows() override;
    bool activateFrontmost(const std::unordered_set<std::uint32_t>& windows) override;

private:
    std::shared_ptr<MainConnection> connection_;
};

}  // namespace vantrel::wayland
