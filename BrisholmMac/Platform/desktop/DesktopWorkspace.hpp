#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "Platform/Workspace.hpp"
#include "Platform/desktop/IconRenderer.hpp"
#include "Platform/desktop/WindowMatching.hpp"

namespace vantrel::desktop {

// Where the workspace learns which application windows run and how one is brought forward: the
// session's own window list, which the desktop backend provides (on X11 the window manager's
// client list).
//
// Lives on the main thread.
class RunningWindows {
public:
    virtual ~RunningWindows() = default;

    // The managed top-level windows in the order the session lists them, oldest first; empty when
    // the list cannot be read.
    [[nodiscard]] virtual std::vector<WindowFacts> clientWindows() = 0;
    // Brings the front-most of windows (the session's stacking order) forward, as a taskbar would;
    // false when the session's window list cannot be reached.
    virtual bool activateFrontmost(const std::unordered_set<std::uint32_t>& windows) = 0;
};

// The workspace of a freedesktop session. Applications are desktop entries, found and launched
// through GIO; the pinned ones are GNOME's favourites (none elsewhere); the running ones own
// regular windows in the session's window list (none without one); icons are the entries' themed
// icons, drawn by the renderer.
//
// Installed entries: GIO treats an entry marked Hidden, or one whose TryExec program is missing,
// as not installed; NoDisplay entries (kept out of menus) are installed applications and can be
// listed when pinned or running.
//
// Lives on the main thread.
class DesktopWorkspace final : public Workspace {
public:
    // windows may be null: nothing runs then, and every application is launched.
    DesktopWorkspace(std::shared_ptr<IconRenderer> icons, std::shared_ptr<RunningWindows> windows);
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

    std::shared_ptr<IconRenderer> icons_;
    std::shared_ptr<RunningWindows> windows_;
};

}  // namespace vantrel::desktop
