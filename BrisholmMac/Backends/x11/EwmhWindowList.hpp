#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/WindowList.hpp"

namespace vantrel::x11 {
class SharedConnection;
}

namespace vantrel::desktop {

class X11Windows;

// The window list of an X11 session with an EWMH window manager: the manager's stacking list
// (front first) filtered by screenWindow, the front application from the active window with its
// desktop-entry id as the application catalog finds it, and the default handler of folders as the
// file browser.
//
// Lives on the main thread, on the backend's shared connection, which it opens again when the
// server dropped it.
class EwmhWindowList final : public WindowList {
public:
    explicit EwmhWindowList(std::shared_ptr<x11::SharedConnection> shared);
    ~EwmhWindowList() override;

    std::optional<std::vector<Window>> windows() override;
    FrontApplication frontApplication() override;
    std::optional<std::string> fileBrowserId() override;

private:
    X11Windows* connection();

    std::shared_ptr<x11::SharedConnection> shared_;
    std::unique_ptr<X11Windows> x11_;
    bool unreadableLogged_ = false;
    // The active window whose application id was looked up last: the id is asked for several
    // times a second, and matching an entry may read every installed one.
    std::optional<std::uint32_t> lastActive_;
    std::optional<std::string> lastActiveId_;
};

}  // namespace vantrel::desktop
