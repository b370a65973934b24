#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Workspace.hpp"
#include "Platform/desktop/IconRenderer.hpp"

namespace vantrel::desktop {

class X11Windows;

// The workspace of a freedesktop session on X11. Applications are desktop entries, found and
// launched through GIO; the pinned ones are GNOME's favourites (none elsewhere); the running ones
// own regular windows in the window manager's client list (none without a display); icons are the
// entries' themed icons, drawn by the renderer.
//
// Installed entries: GIO treats an entry marked Hidden, or one whose TryExec program is missing,
// as not installed; NoDisplay entries (kept out of menus) are installed applications and can be
// listed when pinned or running.
//
// Lives on the main thread. It keeps one connection to the X display, made when first needed and
// made again when the server drops it.
class DesktopWorkspace final : public Workspace {
public:
    explicit DesktopWorkspace(std::shared_ptr<IconRenderer> icons);
    ~DesktopWorkspace() override;

    std::vector<std::string> pinnedIds() override;
    std::vector<RunningApplication> runningApplications() override;
    std::optional<std::string> locate(const std::string& id) override;
    std::string displayName(const std::string& location) override;
    std::optional<Bytes> iconPNG(const std::string& location) override;
    void openOrActivate(const std::string& location) override;

private:
    struct Window {
        std::uint32_t window;
        RunningApplication application;
    };
    // The regular windows matched to installed entries, in client-list order (one per window).
    std::vector<Window> applicationWindows();
    X11Windows* windows();

    std::shared_ptr<IconRenderer> icons_;
    std::unique_ptr<X11Windows> windows_;
};

}  // namespace vantrel::desktop
