#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

#include "Platform/desktop/DesktopWorkspace.hpp"
#include "Platform/desktop/ProcessMatching.hpp"

namespace vantrel::desktop {

// The processes of this user, read from a /proc tree (another root in tests). A process whose
// executable cannot be read (a kernel thread, one that just ended) is left out.
class UserProcesses {
public:
    explicit UserProcesses(std::filesystem::path root = "/proc");

    // By process id, ascending: roughly the order they started in.
    [[nodiscard]] std::vector<ProcessFacts> list() const;

private:
    std::filesystem::path root_;
};

// The running applications of a session that shows no program the windows of others (GNOME on
// Wayland): the processes of this user matched to the menus' entries by their Exec lines. The
// workspace takes running applications as windows, so each entry found stands in as one window
// named by its entry's id. Bringing one forward is left to launching it again, which a running
// single-instance application answers by raising its window.
//
// Lives on the main thread.
class ProcessWindows final : public RunningWindows {
public:
    explicit ProcessWindows(UserProcesses processes = UserProcesses());

    std::vector<WindowFacts> clientWindows() override;
    bool activateFrontmost(const std::unordered_set<std::uint32_t>& windows) override;

private:
    UserProcesses processes_;
};

}  // namespace vantrel::desktop
